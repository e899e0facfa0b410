#include "platform/web/intrinsics.h"

#include "platform/call/call_context.h"
#include "platform/script/script.h"

namespace oapx1 {
namespace {

// The host's binding of the call under way on one thread.
struct Binding {
  ObjectContext* context = nullptr;  // see current_object_context()
  ObjectContext slots;               // the intrinsic objects the page bound
};

// Per thread: generated page code reaches the intrinsic objects through
// server_object() and the like, with nothing passed along, and the host runs
// each call on one thread.
constinit thread_local Binding t_binding;

template <class T>
T& slot(T* p) {
  if (!p) throw ScriptError(err::kObjectNotSet, "Object variable or With block variable not set");
  return *p;
}

}  // namespace

std::string Server::html_encode(std::string_view text) const { return server_html_encode(text); }

ObjectContext* current_object_context() { return t_binding.context; }

void set_current_object_context(ObjectContext* context) {
  t_binding.context = context;
  set_call_reads_only(context && context->reads_only);
}

Server& server_object() { return slot(t_binding.slots.server); }
Application& application_object() { return slot(t_binding.slots.application); }
Session& session_object() { return slot(t_binding.slots.session); }
Request& request_object() { return slot(t_binding.slots.request); }
Response& response_object() { return slot(t_binding.slots.response); }

void bind_intrinsics(const ObjectContext* context) {
  if (!context) {
    t_binding.slots = ObjectContext{};
    return;
  }
  t_binding.slots = *context;
}

}  // namespace oapx1
