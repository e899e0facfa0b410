#include <utility>  // before Asio: g++ 12 in C++20 mode needs it declared first

#include "server/dispatch.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>

namespace oapx1 {

namespace net = boost::asio;

// A request on its way, while what it needs is read ahead or while it waits
// for a page thread.
struct Dispatch::Asked {
  HttpRequest request;
  WebApplication::Route route;
  std::string session;   // the key that orders its page work
  Loop& loop;            // the loop that read it, where its reply goes
  Respond respond;
  WebApplication::LookedUp looked;  // what a look for its kept view read
};

Dispatch::Loop::Loop(net::io_context& loop_ioc, WebApplication& app)
    : ioc(loop_ioc), ahead(loop_ioc, app.redis_sessions(), app.options().database) {}

Dispatch::Dispatch(WebApplication& app, PageWorkers& workers) : app_(app), workers_(workers) {}

std::unique_ptr<Dispatch::Loop> Dispatch::make_loop(net::io_context& ioc) {
  auto loop = std::make_unique<Loop>(ioc, app_);
  if (app_.options().keep_views) loop->ahead.connect();  // else never asked
  return loop;
}

void Dispatch::dispatch(HttpRequest request, Loop& loop, Respond respond) {
  WebApplication::Route route = app_.route(request);
  if (route.work == WebApplication::PageWork::kNone) return respond(app_.handle(request, route));
  auto asked = std::make_shared<Asked>(
      Asked{std::move(request), std::move(route), {}, loop, std::move(respond), {}});
  asked->session = app_.session_key(asked->request);
  // A view that a kept view answers is answered on the loop when its session
  // has no other request under way: handing it to a page thread and its
  // reply back would cost more than the answer. What other servers must tell
  // for it (the session, the data's state) is read ahead without waiting. No
  // page runs on a loop, so the loop's other connections never wait on one.
  if (asked->route.work != WebApplication::PageWork::kLoopWhenKept ||
      !app_.may_answer_kept(asked->request, asked->route)) {
    return to_page_threads(asked);
  }
  asked->looked.session_ends = app_.session_store().ends();
  if (!loop.ahead.active()) return answer_on_loop(asked, nullptr);
  loop.ahead.read(asked->session, [this, asked](std::optional<AheadRead> ahead) {
    answer_on_loop(asked, ahead ? &*ahead : nullptr);
  });
}

void Dispatch::answer_on_loop(const std::shared_ptr<Asked>& asked, const AheadRead* ahead) {
  std::optional<HttpReply> reply;
  const bool looked = (ahead || !asked->loop.ahead.active()) && workers_.try_run_here(asked->session, [&] {
    reply = app_.look_kept(asked->request, asked->route, ahead, &asked->looked);
  });
  if (looked && reply) return asked->respond(std::move(*reply));
  to_page_threads(asked);
}

void Dispatch::to_page_threads(const std::shared_ptr<Asked>& asked) {
  on_page_threads(asked, [this, asked] { return app_.handle(asked->request, asked->route, &asked->looked); });
}

void Dispatch::on_page_threads(const std::shared_ptr<Asked>& asked, HttpReply::Make make) {
  // Page work runs on the page threads, one request of a session after the
  // other; the loop goes back to its other connections, and the work guard
  // keeps it running until the reply is handed back. The reply goes back
  // once the session counts as free again, so that the client's next request
  // finds it free.
  auto reply = std::make_shared<HttpReply>();
  const bool queued = workers_.try_post(
      asked->session, [reply, make = std::move(make)] { *reply = make(); },
      [this, asked, reply, work = net::make_work_guard(asked->loop.ioc)] {
        if (reply->later) {
          // No page thread waits for what the reply waits for (a password
          // check); the reply is made once it has ended.
          auto later = std::move(reply->later);
          later([this, asked, work](HttpReply::Make rest) { on_page_threads(asked, std::move(rest)); });
          return;
        }
        net::post(asked->loop.ioc, [asked, reply] { asked->respond(std::move(*reply)); });
      });
  if (!queued) {
    // Too much page work waiting: the client may come back shortly.
    // Sent from the loop, as any reply: a reply made later gets here from
    // a hashing thread.
    net::post(asked->loop.ioc, [asked] { asked->respond(unavailable()); });
  }
}

}  // namespace oapx1
