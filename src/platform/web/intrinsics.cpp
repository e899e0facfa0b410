#include "platform/web/intrinsics.h"

#include "platform/script/script.h"

namespace oapx1 {
namespace {

thread_local ObjectContext* t_context = nullptr;
thread_local ObjectContext t_slots;

template <class T>
T& slot(T* p) {
  if (!p) throw ScriptError(err::kObjectNotSet, "Object variable or With block variable not set");
  return *p;
}

}  // namespace

std::string Server::html_encode(std::string_view text) const { return server_html_encode(text); }

ObjectContext* current_object_context() { return t_context; }
void set_current_object_context(ObjectContext* context) { t_context = context; }

Server& server_object() { return slot(t_slots.server); }
Application& application_object() { return slot(t_slots.application); }
Session& session_object() { return slot(t_slots.session); }
Request& request_object() { return slot(t_slots.request); }
Response& response_object() { return slot(t_slots.response); }

void bind_intrinsics(const ObjectContext* context) {
  if (!context) {
    t_slots = ObjectContext{};
    return;
  }
  t_slots = *context;
}

}  // namespace oapx1
