// Asks a database's server for the stamp that data read now would carry (see
// DataStamp), without waiting for the answer: for an event loop, which sends
// the question, waits for the probe's socket as for any other, and reads the
// answer once it has come. Equal stamps mean that nothing was committed in
// between, whichever connection read the data.
#ifndef OAPX1_PLATFORM_DATA_DATA_STAMP_PROBE_H_
#define OAPX1_PLATFORM_DATA_DATA_STAMP_PROBE_H_

#include <memory>
#include <string>

#include "platform/call/call_context.h"

namespace oapx1 {

class DataStampProbe {
 public:
  // A probe with a connection of its own to the server of `database` (a
  // connection string as Connection.Open takes), connecting at once (this
  // waits, two seconds at most unless the string says otherwise). Null when its engine needs no server asked (SQLite: a look at
  // the file is quick) or when the server cannot be reached.
  static std::unique_ptr<DataStampProbe> open(const std::string& database);
  // Whether the engine of `database` has a server to ask (whether open()
  // gives a probe when the server can be reached).
  static bool asks_server(const std::string& database);
  virtual ~DataStampProbe() = default;

  // The connection's socket, to wait on for reading (an answer) and, while
  // flush() has more to send, for writing.
  virtual int socket() const = 0;
  // Sends the question, as much as can go without waiting; one question at
  // a time. False when the connection is broken.
  virtual bool ask() = 0;
  // Sends what ask() could not: 0 when all is sent, 1 when more is left
  // (wait until the socket is writable), -1 when the connection is broken.
  virtual int flush() = 0;

  enum class Answer { kNotYet, kStamp, kBroken };
  // Reads what has come without waiting. kStamp puts the answer in `stamp`;
  // kBroken: the connection is broken or the server cannot tell, and the
  // probe is of no further use.
  virtual Answer receive(DataStamp& stamp) = 0;
};

}  // namespace oapx1

#endif  // OAPX1_PLATFORM_DATA_DATA_STAMP_PROBE_H_
