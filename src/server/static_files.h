// The web application's static files (stylesheets, scripts, images) under the
// document root. The application's markup spells one folder several ways
// ("Include/" and "include/", "/oa//Include/"), so a path resolves with ASCII
// letter case ignored and repeated slashes collapsed. Nothing outside the
// document root is ever served.
#ifndef OAPX1_SERVER_STATIC_FILES_H_
#define OAPX1_SERVER_STATIC_FILES_H_

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace oapx1 {

// The segments of a decoded URL path: empty segments (repeated slashes) and
// "." dropped; nullopt when a segment is ".." or the path holds a NUL or a
// backslash, which no file of the application is named with.
std::optional<std::vector<std::string>> split_url_path(std::string_view decoded_path);

class StaticFiles {
 public:
  // `docroot` must be an existing folder; fails with std::runtime_error otherwise.
  explicit StaticFiles(const std::filesystem::path& docroot);

  // The regular file the segments name under the document root, each segment
  // matched exactly or else ignoring ASCII case; nullopt when there is none or
  // the file (through a symbolic link) lies outside the document root.
  std::optional<std::filesystem::path> resolve(const std::vector<std::string>& segments) const;

  const std::filesystem::path& root() const { return root_; }

 private:
  std::filesystem::path root_;  // canonical document root
};

// The Content-Type for a file name, by its extension. Text types (scripts,
// style sheets, pages, plain text) carry the character set of `content`:
// UTF-8 when it is valid UTF-8 holding non-ASCII text, else gb2312, the code
// page of the application's pages, so that a script holding Chinese text is
// never read in the code page of the page that loads it.
std::string content_type_for(const std::filesystem::path& file, std::string_view content = {});

}  // namespace oapx1

#endif  // OAPX1_SERVER_STATIC_FILES_H_
