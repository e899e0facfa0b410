// Where each request the transport reads is answered, and how: the one seam
// between the transport (which reads requests and writes replies) and the
// application. A request that never waits on the database is answered on the
// connection thread that read it; a view that a kept view may answer is
// looked up there too, with what other servers must tell for it read ahead
// without waiting; everything else (a page to run, a save, a sign-in) goes
// to the page threads, one request of a session after the other.
#ifndef OAPX1_SERVER_DISPATCH_H_
#define OAPX1_SERVER_DISPATCH_H_

#include <functional>
#include <memory>
#include <string>

#include <boost/asio/io_context.hpp>

#include "server/ahead_reads.h"
#include "server/http_exchange.h"
#include "server/page_workers.h"
#include "server/web_application.h"

namespace oapx1 {

class Dispatch {
 public:
  // Answers the requests of `app`, running page work on `workers`; both
  // outlive the dispatch and every request it was handed.
  Dispatch(WebApplication& app, PageWorkers& workers);
  Dispatch(const Dispatch&) = delete;
  Dispatch& operator=(const Dispatch&) = delete;

  // What the dispatch keeps for one connection thread's event loop: its
  // reads ahead. Made by make_loop; lives as long as the loop runs.
  class Loop {
   public:
    explicit Loop(boost::asio::io_context& ioc, WebApplication& app);
    boost::asio::io_context& ioc;
    AheadReads ahead;
  };
  // The dispatch's part of the event loop `ioc`; its reads ahead connect
  // (in the background) when views are kept, else never.
  std::unique_ptr<Loop> make_loop(boost::asio::io_context& ioc);

  // Called once with the reply to a request, on the thread of the loop that
  // read the request.
  using Respond = std::function<void(HttpReply reply)>;

  // Answers `request`, read on `loop`'s thread: `respond` gets the reply on
  // that thread, either before this returns or later, once page work or a
  // read ahead has ended. Too much page work waiting is answered 503 with
  // Retry-After. Never throws.
  void dispatch(HttpRequest request, Loop& loop, Respond respond);

 private:
  struct Asked;
  // Answers a view from its kept view on the loop's thread, with what was
  // read ahead for it (null: the look asks itself), or hands it to the page
  // threads with what the look read.
  void answer_on_loop(const std::shared_ptr<Asked>& asked, const AheadRead* ahead);
  void to_page_threads(const std::shared_ptr<Asked>& asked);
  // Runs `make` on the page threads in the order of the request's session
  // and sends the reply it makes; a reply made later (HttpReply::later) is
  // made on the page threads again when it is ready.
  void on_page_threads(const std::shared_ptr<Asked>& asked, HttpReply::Make make);

  WebApplication& app_;
  PageWorkers& workers_;
};

}  // namespace oapx1

#endif  // OAPX1_SERVER_DISPATCH_H_
