#include "server/static_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>
#include <system_error>

#include "server/form.h"

namespace oapx1 {

namespace fs = std::filesystem;

std::optional<std::vector<std::string>> split_url_path(std::string_view decoded_path) {
  if (decoded_path.find('\0') != std::string_view::npos ||
      decoded_path.find('\\') != std::string_view::npos) {
    return std::nullopt;
  }
  std::vector<std::string> segments;
  while (!decoded_path.empty()) {
    const size_t slash = decoded_path.find('/');
    std::string_view segment = decoded_path.substr(0, slash);
    decoded_path.remove_prefix(slash == std::string_view::npos ? decoded_path.size() : slash + 1);
    if (segment.empty() || segment == ".") continue;
    if (segment == "..") return std::nullopt;
    segments.emplace_back(segment);
  }
  return segments;
}

StaticFiles::StaticFiles(const fs::path& docroot) {
  std::error_code ec;
  root_ = fs::canonical(docroot, ec);
  if (ec || !fs::is_directory(root_, ec)) {
    throw std::runtime_error("document root is not a folder: " + fs::absolute(docroot, ec).string() +
                             " (the setting docroot)");
  }
}

std::optional<fs::path> StaticFiles::resolve(const std::vector<std::string>& segments) const {
  std::error_code ec;
  fs::path path = root_;
  for (const std::string& segment : segments) {
    fs::path exact = path / segment;
    if (fs::exists(exact, ec)) {
      path = std::move(exact);
      continue;
    }
    // Not spelled as on disk: look for the one entry equal but for case.
    const std::string wanted = ascii_lower(segment);
    bool found = false;
    for (fs::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec)) {
      if (ascii_lower(it->path().filename().string()) == wanted) {
        path = it->path();
        found = true;
        break;
      }
    }
    if (!found) return std::nullopt;
  }
  if (!fs::is_regular_file(path, ec)) return std::nullopt;
  // A symbolic link may point anywhere: serve only what really lies inside.
  fs::path real = fs::canonical(path, ec);
  if (ec) return std::nullopt;
  const std::string root = root_.string() + "/";
  if (real.string().compare(0, root.size(), root) != 0) return std::nullopt;
  return real;
}

namespace {

bool same_version(const StaticFile& file, const struct stat& st) {
  return file.device == st.st_dev && file.inode == st.st_ino && file.size == st.st_size &&
         file.modified.tv_sec == st.st_mtim.tv_sec && file.modified.tv_nsec == st.st_mtim.tv_nsec;
}

// Reads a regular file whole; null when it cannot be.
std::shared_ptr<StaticFile> read_file(const fs::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  auto file = std::make_shared<StaticFile>();
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (ok) {
    file->content.resize(static_cast<size_t>(st.st_size));
    size_t got = 0;
    while (got < file->content.size()) {
      const ssize_t n = ::read(fd, file->content.data() + got, file->content.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    // A file that shrank while being read is read as far as it went; the
    // next request sees its new size and reads it again.
    file->content.resize(got);
  }
  ::close(fd);
  if (!ok) return nullptr;
  file->path = path;
  file->device = st.st_dev;
  file->inode = st.st_ino;
  file->size = st.st_size;
  file->modified = st.st_mtim;
  file->content_type = content_type_for(path, file->content);
  return file;
}

}  // namespace

std::shared_ptr<const StaticFile> StaticFiles::load(const std::vector<std::string>& segments) {
  std::string key;
  for (const std::string& segment : segments) {
    key += '/';
    key += segment;
  }
  std::shared_ptr<const StaticFile> cached;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (auto it = cache_.find(key); it != cache_.end()) cached = it->second;
  }
  if (cached) {
    struct stat st {};
    if (::stat(cached->path.c_str(), &st) == 0 && same_version(*cached, st)) return cached;
    std::lock_guard<std::mutex> guard(mutex_);
    if (auto it = cache_.find(key); it != cache_.end() && it->second == cached) {
      cached_bytes_ -= it->second->content.size();
      cache_.erase(it);
    }
  }
  const std::optional<fs::path> path = resolve(segments);
  if (!path) return nullptr;
  std::shared_ptr<const StaticFile> file = read_file(*path);
  if (!file || file->content.size() > kMaxCachedFile) return file;
  std::lock_guard<std::mutex> guard(mutex_);
  if (cache_.size() >= kMaxCachedFiles || cached_bytes_ + file->content.size() > kMaxCacheBytes) {
    // Full (many spellings of many paths): start again rather than keep
    // whatever came first.
    cache_.clear();
    cached_bytes_ = 0;
  }
  auto [it, added] = cache_.try_emplace(std::move(key), file);
  if (added) {
    cached_bytes_ += file->content.size();
  } else {
    cached_bytes_ = cached_bytes_ - it->second->content.size() + file->content.size();
    it->second = file;
  }
  return file;
}

size_t StaticFiles::cached_bytes() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return cached_bytes_;
}

namespace {

// True when the bytes are valid UTF-8 and at least one is not ASCII.
bool is_utf8_text(std::string_view bytes) {
  bool non_ascii = false;
  for (size_t at = 0; at < bytes.size();) {
    const auto lead = static_cast<unsigned char>(bytes[at]);
    size_t length = 1;
    if (lead < 0x80) {
      ++at;
      continue;
    }
    if (lead >= 0xC2 && lead <= 0xDF) length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) length = 3;
    else if (lead >= 0xF0 && lead <= 0xF4) length = 4;
    else return false;
    if (at + length > bytes.size()) return false;
    for (size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(bytes[at + k]) & 0xC0) != 0x80) return false;
    }
    non_ascii = true;
    at += length;
  }
  return non_ascii;
}

}  // namespace

std::string content_type_for(const fs::path& file, std::string_view content) {
  const std::string ext = ascii_lower(file.extension().string());
  const std::string charset = is_utf8_text(content) ? "; charset=utf-8" : "; charset=gb2312";
  if (ext == ".css") return "text/css" + charset;
  if (ext == ".js") return "application/javascript" + charset;
  if (ext == ".gif") return "image/gif";
  if (ext == ".png") return "image/png";
  if (ext == ".jpg" || ext == ".jpeg") return "image/jpeg";
  if (ext == ".ico") return "image/x-icon";
  if (ext == ".svg") return "image/svg+xml";
  if (ext == ".htm" || ext == ".html") return "text/html" + charset;
  if (ext == ".txt") return "text/plain" + charset;
  return "application/octet-stream";
}

}  // namespace oapx1
