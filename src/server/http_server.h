// The HTTP page host: accepts connections, reads requests within size and time
// limits, hands them to the web application and writes its replies. Keep-alive,
// a graceful stop that lets in-flight requests finish, and a process that no
// request can bring down.
#ifndef OAPX1_SERVER_HTTP_SERVER_H_
#define OAPX1_SERVER_HTTP_SERVER_H_

#include <cstdint>
#include <memory>
#include <string>

#include "server/web_application.h"

namespace oapx1 {

class HttpServer {
 public:
  // Builds the web application and binds the listening socket (port 0 picks a
  // free port). Fails with std::runtime_error when the address cannot be bound
  // or the document root is not a folder.
  explicit HttpServer(ServerOptions options);
  // Stops the server and waits for its threads.
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // The bound port and address.
  uint16_t port() const;
  std::string address() const;
  // Number of connection (I/O) threads the server runs.
  int threads() const;
  // Number of threads that run page work.
  int page_threads() const;
  // The cap on open connections, and how many are open now.
  size_t max_connections() const;
  size_t open_connections() const;
  // Page requests being run and waiting for a page thread.
  size_t page_work_running() const;
  size_t page_work_waiting() const;

  // Serves on background threads; returns at once.
  void start();
  // Serves on this thread and the others until stopped; returns after the stop.
  void run();
  // Stops accepting, closes idle connections and lets requests being served
  // finish (for at most the options' stop grace). Thread-safe; returns at once.
  void stop();
  // Waits until the background threads of start() have ended.
  void wait();

  WebApplication& application();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace oapx1

#endif  // OAPX1_SERVER_HTTP_SERVER_H_
