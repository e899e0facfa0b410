#include "platform/files/file_system.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace oapx1 {
namespace fs = std::filesystem;
namespace {


fs::path to_path(std::string_view path) { return fs::path(std::string(path)); }

[[noreturn]] void fail(int32_t number) {
  switch (number) {
    case err::kFileNotFound:
      throw ScriptError(number, "File not found");
    case err::kFileExists:
      throw ScriptError(number, "File already exists");
    case err::kPermissionDenied:
      throw ScriptError(number, "Permission denied");
    case err::kPathNotFound:
      throw ScriptError(number, "Path not found");
    case err::kBadFileName:
      throw ScriptError(number, "Bad file name or number");
    case err::kDeviceIo:
      throw ScriptError(number, "Device I/O error");
    case err::kDiskFull:
      throw ScriptError(number, "Disk full");
    default:
      throw ScriptError(err::kPathFileAccess, "Path/File access error");
  }
}

// Raises the platform's failure for a system error; `missing` is the number a
// missing file or folder carries in the operation at hand.
[[noreturn]] void fail(const std::error_code& ec, int32_t missing) {
  const std::error_condition c = ec.default_error_condition();
  if (c == std::errc::no_such_file_or_directory) fail(missing);
  if (c == std::errc::not_a_directory) fail(err::kPathNotFound);
  if (c == std::errc::file_exists) fail(err::kFileExists);
  if (c == std::errc::permission_denied || c == std::errc::operation_not_permitted ||
      c == std::errc::read_only_file_system || c == std::errc::device_or_resource_busy ||
      c == std::errc::text_file_busy || c == std::errc::directory_not_empty ||
      c == std::errc::is_a_directory)
    fail(err::kPermissionDenied);
  if (c == std::errc::no_space_on_device || c == std::errc::file_too_large) fail(err::kDiskFull);
  if (c == std::errc::io_error) fail(err::kDeviceIo);
  if (c == std::errc::filename_too_long || c == std::errc::invalid_argument) fail(err::kBadFileName);
  fail(err::kPathFileAccess);
}

// A file or folder whose owner may not write to it: the read-only attribute.
bool read_only(const fs::file_status& st) {
  return (st.permissions() & fs::perms::owner_write) == fs::perms::none;
}

bool is_folder(const fs::path& p) {
  std::error_code ec;
  return fs::is_directory(p, ec);
}

bool is_file(const fs::path& p) {
  std::error_code ec;
  const fs::file_status st = fs::status(p, ec);
  return !ec && fs::exists(st) && !fs::is_directory(st);
}

}  // namespace

Variant Folder::Files() const {
  std::error_code ec;
  fs::directory_iterator it(to_path(path_), ec);
  if (ec) fail(ec, err::kPathNotFound);
  std::vector<std::shared_ptr<File>> files;
  for (const fs::directory_iterator end; it != end; it.increment(ec)) {
    std::error_code type_ec;
    if (it->is_regular_file(type_ec))
      files.push_back(std::make_shared<File>(it->path().filename().string(), it->path().string()));
  }
  if (ec) fail(ec, err::kPathNotFound);
  std::sort(files.begin(), files.end(),
            [](const auto& a, const auto& b) { return a->Name() < b->Name(); });
  return Variant(std::shared_ptr<Object>(std::make_shared<oapx1::Files>(std::move(files))));
}

bool FileSystemObject::FileExists(std::string_view path) const {
  return !path.empty() && is_file(to_path(path));
}

bool FileSystemObject::FolderExists(std::string_view path) const {
  return !path.empty() && is_folder(to_path(path));
}

void FileSystemObject::DeleteFile(std::string_view path, bool force) {
  const fs::path p = to_path(path);
  if (!FileExists(path)) fail(err::kFileNotFound);
  std::error_code ec;
  const fs::file_status st = fs::symlink_status(p, ec);
  if (ec) fail(ec, err::kFileNotFound);
  if (!force && !fs::is_symlink(st) && read_only(st)) fail(err::kPermissionDenied);
  if (!fs::remove(p, ec) || ec)
    fail(ec ? ec : std::make_error_code(std::errc::no_such_file_or_directory), err::kFileNotFound);
}

void FileSystemObject::CopyFile(std::string_view source, std::string_view destination,
                                bool overwrite) {
  if (!FileExists(source)) fail(err::kFileNotFound);
  const fs::path from = to_path(source);
  fs::path to = to_path(destination);
  if (!destination.empty() && destination.back() == '/') {
    if (!is_folder(to)) fail(err::kPathNotFound);
    to /= from.filename();
  } else if (destination.empty()) {
    fail(err::kBadFileName);
  }
  std::error_code ec;
  const fs::file_status st = fs::status(to, ec);
  if (fs::exists(st)) {
    if (fs::is_directory(st)) fail(err::kPermissionDenied);
    if (!overwrite) fail(err::kFileExists);
    if (read_only(st) || fs::equivalent(from, to, ec)) fail(err::kPermissionDenied);
  }
  ec.clear();
  fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
  if (ec) fail(ec, err::kPathNotFound);
}

void FileSystemObject::DeleteFolder(std::string_view path, bool force) {
  const fs::path root = to_path(path);
  if (!FolderExists(path)) fail(err::kPathNotFound);
  std::error_code ec;
  // With force, read-only entries are made writable (and folders searchable)
  // first; without it, a read-only entry refuses the whole deletion.
  auto check = [&](const fs::path& p, const fs::file_status& st) {
    if (fs::is_symlink(st)) return;
    if (force) {
      const fs::perms add = fs::is_directory(st) ? fs::perms::owner_all
                                                 : fs::perms::owner_read | fs::perms::owner_write;
      if ((st.permissions() & add) != add) {
        std::error_code perm_ec;
        fs::permissions(p, add, fs::perm_options::add, perm_ec);
      }
    } else if (read_only(st)) {
      fail(err::kPermissionDenied);
    }
  };
  // A link to a folder is removed itself; nothing behind it is touched.
  if (fs::is_symlink(fs::symlink_status(root, ec))) {
    fs::remove(root, ec);
    if (ec) fail(ec, err::kPathNotFound);
    return;
  }
  check(root, fs::status(root, ec));
  fs::recursive_directory_iterator it(root, fs::directory_options::none, ec);
  if (ec) fail(ec, err::kPathNotFound);
  for (const fs::recursive_directory_iterator end; it != end; it.increment(ec)) {
    std::error_code st_ec;
    check(it->path(), it->symlink_status(st_ec));
  }
  if (ec) fail(ec, err::kPathNotFound);
  fs::remove_all(root, ec);
  if (ec) fail(ec, err::kPathNotFound);
}

void FileSystemObject::CreateFolder(std::string_view path) {
  const fs::path p = to_path(path);
  if (path.empty()) fail(err::kBadFileName);
  std::error_code ec;
  if (fs::exists(fs::symlink_status(p, ec))) fail(err::kFileExists);
  if (!fs::create_directory(p, ec) || ec)
    fail(ec ? ec : std::make_error_code(std::errc::file_exists), err::kPathNotFound);
}

Variant FileSystemObject::GetFolder(std::string_view path) const {
  if (!FolderExists(path)) fail(err::kPathNotFound);
  return Variant(std::shared_ptr<Object>(std::make_shared<Folder>(std::string(path))));
}

}  // namespace oapx1
