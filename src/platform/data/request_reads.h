// The reads of one request on this thread. An engine that has to ask its
// server for the database's version before it may hand out a kept result
// (PostgreSQL) asks once in a request, not once per statement, and shares
// the answer among the request's engine connections. A request still never
// sees data older than the last commit made before it began: the version is
// read after the request began, and anything on this thread that may write
// asks for it again.
#ifndef OAPX1_PLATFORM_DATA_REQUEST_READS_H_
#define OAPX1_PLATFORM_DATA_REQUEST_READS_H_

#include <cstdint>

namespace oapx1 {

// Marks a request's work on this thread for as long as it lives. Scopes
// nest: an inner one joins the outer one. Not copyable.
class RequestReads {
 public:
  RequestReads();
  ~RequestReads();
  RequestReads(const RequestReads&) = delete;
  RequestReads& operator=(const RequestReads&) = delete;

  // The number of the reads under way on this thread: unique in the process
  // and changed by changed(); 0 outside any scope, where nothing is shared.
  static uint64_t current();

  // Something on this thread may have written to a database: a version read
  // before no longer holds for the rest of the request. Cheap; a no-op
  // outside any scope.
  static void changed();
};

}  // namespace oapx1

#endif  // OAPX1_PLATFORM_DATA_REQUEST_READS_H_
