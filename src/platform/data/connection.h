// The data access objects' connection stand-in: one open engine connection of
// a request, taken from the pool of its connection string.
#ifndef OAPX1_PLATFORM_DATA_CONNECTION_H_
#define OAPX1_PLATFORM_DATA_CONNECTION_H_

#include <memory>
#include <string>
#include <string_view>

#include "platform/script/variant.h"

namespace oapx1 {

class DbSession;

class Connection : public Object {
 public:
  Connection();
  ~Connection() override;

  // Seconds a statement may run (the property, set and read).
  void CommandTimeout(int seconds) { command_timeout_ = seconds; }
  int CommandTimeout() const { return command_timeout_; }

  // Opens the database named by a connection string ("sqlite:PATH", or
  // "postgresql://..." where built in). Takes an idle engine connection from the
  // pool of that string when there is one. Fails with the provider's number and
  // message when the engine refuses, with 3705 when already open.
  void Open(const Variant& connect_string);
  // Runs a statement that reads nothing (insert, update, delete) at once.
  void execute(const Variant& sql);
  // Runs a script of several statements in the engine's own dialect, as it is
  // (schema and data files); nothing is translated.
  void execute_script(std::string_view script);
  // Ends the connection (its engine connection goes back to the pool); fails
  // with 3704 when not open.
  void Close();
  bool is_open() const { return session_ != nullptr; }

  // The engine connection; fails with 3704 when not open.
  DbSession& session();
  const std::string& connect_string() const { return connect_string_; }

 private:
  std::shared_ptr<DbSession> session_;  // pooled engine connection; null when closed
  std::string connect_string_;          // the string it was opened with
  int command_timeout_ = 30;            // seconds
};

}  // namespace oapx1

#endif  // OAPX1_PLATFORM_DATA_CONNECTION_H_
