// The web application's static files (stylesheets, scripts, images) under the
// document root. The application's markup spells one folder several ways
// ("Include/" and "include/", "/oa//Include/"), so a path resolves with ASCII
// letter case ignored and repeated slashes collapsed. Nothing outside the
// document root is ever served.
#ifndef OAPX1_SERVER_STATIC_FILES_H_
#define OAPX1_SERVER_STATIC_FILES_H_

#include <sys/types.h>

#include <ctime>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace oapx1 {

// The segments of a decoded URL path: empty segments (repeated slashes) and
// "." dropped; nullopt when a segment is ".." or the path holds a NUL or a
// backslash, which no file of the application is named with.
std::optional<std::vector<std::string>> split_url_path(std::string_view decoded_path);

// A static file as read from disk, with what a reply needs of it.
struct StaticFile {
  std::filesystem::path path;  // the real path below the document root
  std::string content;         // its bytes
  std::string content_type;    // content_type_for(path, content)
  // What identifies this version of the file: a new inode, size or
  // modification time is a changed file.
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};
};

class StaticFiles {
 public:
  // `docroot` must be an existing folder; fails with std::runtime_error otherwise.
  explicit StaticFiles(const std::filesystem::path& docroot);

  // The regular file the segments name under the document root, each segment
  // matched exactly or else ignoring ASCII case; nullopt when there is none or
  // the file (through a symbolic link) lies outside the document root.
  std::optional<std::filesystem::path> resolve(const std::vector<std::string>& segments) const;

  // The file the segments name (as resolve() finds it), read. Files of up to
  // kMaxCachedFile bytes are kept in memory, at most kMaxCacheBytes in all,
  // and checked against the disk at each request (one stat): a file changed
  // or deleted since is read or resolved again. Null when there is no such
  // file or it cannot be read. Thread-safe.
  std::shared_ptr<const StaticFile> load(const std::vector<std::string>& segments);

  // Bytes of the files kept in memory.
  size_t cached_bytes() const;

  static constexpr size_t kMaxCachedFile = 1 << 20;
  static constexpr size_t kMaxCacheBytes = 32 << 20;
  static constexpr size_t kMaxCachedFiles = 4096;

  const std::filesystem::path& root() const { return root_; }

 private:
  std::filesystem::path root_;  // canonical document root
  mutable std::mutex mutex_;    // guards cache_ and cached_bytes_
  // By the segments as requested, joined with '/'.
  std::unordered_map<std::string, std::shared_ptr<const StaticFile>> cache_;
  size_t cached_bytes_ = 0;
};

// The Content-Type for a file name, by its extension. Text types (scripts,
// style sheets, pages, plain text) carry the character set of `content`:
// UTF-8 when it is valid UTF-8 holding non-ASCII text, else gb2312, the code
// page of the application's pages, so that a script holding Chinese text is
// never read in the code page of the page that loads it.
std::string content_type_for(const std::filesystem::path& file, std::string_view content = {});

}  // namespace oapx1

#endif  // OAPX1_SERVER_STATIC_FILES_H_
