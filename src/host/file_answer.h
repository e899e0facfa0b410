// What a page that answers with a file to save, rather than a page to show,
// asks of its host.
#ifndef OAPX1_HOST_FILE_ANSWER_H_
#define OAPX1_HOST_FILE_ANSWER_H_

#include <string_view>

namespace oapx1 {

// Implemented by the response object of a host that can send files (the
// HTTP host's); a page finds it on its response object with dynamic_cast
// and does without it where there is none (the command line's).
class FileAnswer {
 public:
  virtual ~FileAnswer() = default;
  // Called before the first write: the answer is a file of media type
  // `content_type`, its body sent as written (UTF-8, not the pages' code
  // page), offered under `file_name` (ASCII, no quotes).
  virtual void send_as_file(std::string_view content_type, std::string_view file_name) = 0;
  // The answer's status code (200 unless set).
  virtual void set_status(int code) = 0;
};

}  // namespace oapx1

#endif  // OAPX1_HOST_FILE_ANSWER_H_
