// Intrinsic objects held in memory: the implementations the command line, the
// tests and the HTTP host use. Item names are case-insensitive.
#ifndef OAPX1_PLATFORM_WEB_MEMORY_INTRINSICS_H_
#define OAPX1_PLATFORM_WEB_MEMORY_INTRINSICS_H_

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/text/ascii.h"
#include "platform/text/codepage.h"
#include "platform/web/intrinsics.h"

namespace oapx1 {

// Orders names without regard to ASCII letter case.
using ItemMap = std::map<std::string, Variant, AsciiNoCaseLess>;

class MemoryRequest : public Request {
 public:
  using Pairs = std::vector<std::pair<std::string, std::string>>;
  MemoryRequest() = default;
  MemoryRequest(Pairs query, Pairs form) : query_(std::move(query)), form_(std::move(form)) {}

  Variant item(std::string_view key) const override;
  void add_query(std::string name, std::string value) { query_.emplace_back(std::move(name), std::move(value)); }
  void add_form(std::string name, std::string value) { form_.emplace_back(std::move(name), std::move(value)); }

 private:
  Pairs query_;  // query string items in request order
  Pairs form_;   // posted form items in request order
};

class MemoryResponse : public Response {
 public:
  // A page body is written in hundreds of small pieces; room for a typical
  // page up front spares the regrowth copies.
  MemoryResponse() { body_.reserve(16 * 1024); }
  void write(std::string_view text) override { body_.append(text); }
  void set_expires(int minutes) override { expires_ = minutes; }

  const std::string& body() const { return body_; }
  std::string& body() { return body_; }
  int expires() const { return expires_; }

 private:
  std::string body_;   // UTF-8 text written so far
  int expires_ = -1;   // -1 until the page sets it
};

// A response whose body is turned into code page 936 (GBK) as the page
// writes it, as the browser is sent it: the finished body needs no second
// pass. The body is exactly utf8_to_gbk of what MemoryResponse would hold.
class GbkResponse : public Response {
 public:
  // Room for a typical page up front, as MemoryResponse sets aside.
  GbkResponse() : body_(16 * 1024) {}
  void write(std::string_view text) override { body_.write(text); }
  void set_expires(int minutes) override { expires_ = minutes; }

  // The body in GBK; the response is left with an empty body.
  std::string finish() { return body_.finish(); }
  int expires() const { return expires_; }

 private:
  GbkWriter body_;     // GBK text written so far
  int expires_ = -1;   // -1 until the page sets it
};

class MemorySession : public Session {
 public:
  Variant item(std::string_view key) const override;
  void set_item(std::string_view key, Variant value) override;
  void set_code_page(int code_page) override { code_page_ = code_page; }
  int code_page() const override { return code_page_; }
  void set_timeout(int minutes) override { timeout_ = minutes; }
  int timeout() const override { return timeout_; }
  // Every session item, ordered by name.
  const ItemMap& items() const { return items_; }

 private:
  ItemMap items_;        // session items
  int code_page_ = 936;  // code page of the session's pages
  int timeout_ = 20;     // idle minutes
};

// The items shared by all requests of one web application. Thread-safe.
class ApplicationState {
 public:
  Variant item(std::string_view key) const;
  void set_item(std::string_view key, Variant value);
  std::recursive_mutex& lock_mutex() { return lock_; }
  // Counts the items' changes: equal readings mean no item changed between.
  uint64_t version() const { return version_.load(std::memory_order_acquire); }

 private:
  mutable std::mutex items_mutex_;  // guards items_ for single reads and writes
  ItemMap items_;                   // application items
  std::atomic<uint64_t> version_{0};  // see version()
  std::recursive_mutex lock_;       // the Lock/UnLock lock
};

// One request's view of the application: releases a lock the request still
// holds when it ends, so a failure between Lock and UnLock cannot block others.
class MemoryApplication : public Application {
 public:
  explicit MemoryApplication(ApplicationState& state) : state_(state) {}
  ~MemoryApplication() override;
  Variant item(std::string_view key) const override { return state_.item(key); }
  void set_item(std::string_view key, Variant value) override { state_.set_item(key, std::move(value)); }
  void lock() override;
  void unlock() override;

 private:
  ApplicationState& state_;
  int held_ = 0;  // how many times this request holds the lock
};

class MemoryServer : public Server {
 public:
  void set_script_timeout(int seconds) override { script_timeout_ = seconds; }
  int script_timeout() const { return script_timeout_; }

 private:
  int script_timeout_ = 90;  // seconds
};

// One call of the page host on objects held in memory: a server, the
// application of a shared state, a session, a request and a response, bound
// as this thread's object context from bind() until the call ends. The HTTP
// host, the command line, the sign-in's library calls and the tests all run
// their pages through it.
class MemoryCall {
 public:
  explicit MemoryCall(ApplicationState& state) : application(state) {}
  ~MemoryCall() { call_.reset(); }
  MemoryCall(const MemoryCall&) = delete;
  MemoryCall& operator=(const MemoryCall&) = delete;

  // Binds the objects below as the object context of this thread and its
  // intrinsic slots; `other`, when given, is the call's session instead of
  // `session`, `out` the call's response instead of `response`, and `in`
  // its request instead of `request`. `reads_only` is the context's promise
  // that the page only reads (ObjectContext::reads_only). Binding again
  // replaces the binding.
  void bind(Session* other = nullptr, bool reads_only = false, Response* out = nullptr, Request* in = nullptr) {
    call_.reset();
    context = ObjectContext{&server,         &application,           other ? other : &session,
                            in ? in : &request, out ? out : &response, reads_only};
    call_.emplace(&context);
    bind_intrinsics(&context);
  }

  MemoryServer server;
  MemoryApplication application;  // releases a lock the page still holds when the call ends
  MemorySession session;          // the call's session unless bind() is given another
  MemoryRequest request;
  MemoryResponse response;
  ObjectContext context;

 private:
  std::optional<HostCall> call_;  // the binding, undone first
};

}  // namespace oapx1

#endif  // OAPX1_PLATFORM_WEB_MEMORY_INTRINSICS_H_
