// The five intrinsic objects of a request, as the page host provides them, and
// the per-thread slots the page class binds them into. The HTTP host, the
// command line and the tests each provide implementations.
#ifndef OAPX1_PLATFORM_WEB_INTRINSICS_H_
#define OAPX1_PLATFORM_WEB_INTRINSICS_H_

#include <string>
#include <string_view>

#include "platform/script/variant.h"

namespace oapx1 {

// Items of the query string and the posted form of the request.
class Request {
 public:
  virtual ~Request() = default;
  // The item of that name (case-insensitive): query string first, then form;
  // a repeated name joins its values with ", "; a missing item is empty.
  virtual Variant item(std::string_view key) const = 0;
};

// The response body and its caching.
class Response {
 public:
  virtual ~Response() = default;
  // Appends UTF-8 text to the body.
  virtual void write(std::string_view text) = 0;
  // Minutes until the page expires; 0 means not cached at all.
  virtual void set_expires(int minutes) = 0;
};

// The state of one browser session.
class Session {
 public:
  virtual ~Session() = default;
  // The item of that name (case-insensitive); empty when missing.
  virtual Variant item(std::string_view key) const = 0;
  virtual void set_item(std::string_view key, Variant value) = 0;
  virtual void set_code_page(int code_page) = 0;
  virtual int code_page() const = 0;
  // Idle minutes after which the session ends.
  virtual void set_timeout(int minutes) = 0;
  virtual int timeout() const = 0;
};

// The state shared by every request of the web application.
class Application {
 public:
  virtual ~Application() = default;
  virtual Variant item(std::string_view key) const = 0;
  virtual void set_item(std::string_view key, Variant value) = 0;
  // Serialises changes to the items between requests. A lock still held when
  // the request ends is released by the host.
  virtual void lock() = 0;
  virtual void unlock() = 0;
};

// The server utility object.
class Server {
 public:
  virtual ~Server() = default;
  // Seconds a page may run.
  virtual void set_script_timeout(int seconds) = 0;
  // The web server's encoder: & < > " become entities.
  virtual std::string html_encode(std::string_view text) const;
};

// The page host's object context of one call: where the page class finds the
// intrinsic objects. A null member is an item the context does not have.
struct ObjectContext {
  Server* server = nullptr;
  Application* application = nullptr;
  Session* session = nullptr;
  Request* request = nullptr;
  Response* response = nullptr;
  // The host's promise that the call's page only reads the database (its
  // route says so): a statement that would write fails instead of running,
  // so that a page that breaks the promise is found at once. Taken when the
  // context is set (set_current_object_context).
  bool reads_only = false;
};

// The object context the host set for the current call on this thread, or null
// outside a page host.
ObjectContext* current_object_context();
// Sets (or clears, with null) the object context of calls on this thread, and
// with it the call's promise to only read (call_may_write in
// platform/call/call_context.h): the context's reads_only; none with null.
void set_current_object_context(ObjectContext* context);

// The intrinsic objects bound on this thread, the per-thread slots the page
// binds from the object context. Each fails with 91 when its slot is unset.
Server& server_object();
Application& application_object();
Session& session_object();
Request& request_object();
Response& response_object();
// Stores the context's items into this thread's slots; an item the context
// does not have leaves its slot unset. With null, every slot is cleared.
void bind_intrinsics(const ObjectContext* context);

// One call of the page host on this thread: while it lives, `context` is the
// current object context (what I_init binds from); when it ends, the context
// and the thread's intrinsic slots are cleared, so nothing of the call
// outlives it. Used by the server, the command and the tests alike.
class HostCall {
 public:
  explicit HostCall(ObjectContext* context) { set_current_object_context(context); }
  ~HostCall() {
    set_current_object_context(nullptr);
    bind_intrinsics(nullptr);
  }
  HostCall(const HostCall&) = delete;
  HostCall& operator=(const HostCall&) = delete;
};

}  // namespace oapx1

#endif  // OAPX1_PLATFORM_WEB_INTRINSICS_H_
