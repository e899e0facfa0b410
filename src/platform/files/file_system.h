// The platform's file system object (class id "Scripting.FileSystemObject")
// over the server's file system. Paths are taken exactly as given. Failures
// carry the platform's numbers: 53 file not found, 58 file already exists,
// 70 permission denied, 76 path not found (61 disk full, 57 device I/O error,
// 52 bad file name, 75 path/file access error for the rarer causes).
#ifndef OAPX1_PLATFORM_FILES_FILE_SYSTEM_H_
#define OAPX1_PLATFORM_FILES_FILE_SYSTEM_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/script/variant.h"

namespace oapx1 {

// One file of a folder's Files collection.
class File : public Object {
 public:
  File(std::string name, std::string path) : name_(std::move(name)), path_(std::move(path)) {}
  // The file's name without its folder.
  const std::string& Name() const { return name_; }
  // The file's full path.
  const std::string& Path() const { return path_; }

 private:
  std::string name_;  // last component of the path
  std::string path_;  // folder path joined with the name
};

// The files directly in a folder (no subfolders), in name order, as they were
// when the collection was read.
class Files : public Object {
 public:
  explicit Files(std::vector<std::shared_ptr<File>> items) : items_(std::move(items)) {}
  int64_t Count() const { return static_cast<int64_t>(items_.size()); }
  const std::vector<std::shared_ptr<File>>& items() const { return items_; }

 private:
  std::vector<std::shared_ptr<File>> items_;  // the files, by name
};

// A folder, as GetFolder returns it.
class Folder : public Object {
 public:
  explicit Folder(std::string path) : path_(std::move(path)) {}
  const std::string& Path() const { return path_; }
  // The files directly in the folder; fails with 76 when the folder is gone.
  Variant Files() const;

 private:
  std::string path_;  // the path the folder was asked for by
};

class FileSystemObject : public Object {
 public:
  // True when the path names an existing file (not a folder).
  bool FileExists(std::string_view path) const;
  // True when the path names an existing folder.
  bool FolderExists(std::string_view path) const;
  // Deletes a file. Fails with 53 when there is no such file, 70 when it is
  // read-only and `force` is false or the system refuses.
  void DeleteFile(std::string_view path, bool force = false);
  // Copies a file. A destination ending in "/" is a folder to copy into. Fails
  // with 53 for a missing source, 76 for a missing destination folder, 58 when
  // the destination exists and `overwrite` is false, 70 when the destination is
  // a folder, read-only, the source itself, or the system refuses.
  void CopyFile(std::string_view source, std::string_view destination, bool overwrite = true);
  // Deletes a folder with everything in it. Fails with 76 when there is no such
  // folder; with 70 when something in it is read-only and `force` is false
  // (with `force`, read-only files and folders go too) or the system refuses.
  void DeleteFolder(std::string_view path, bool force = false);
  // Creates one folder; its parent must exist. Fails with 58 when the path
  // exists, 76 when the parent is missing, 70 when the system refuses.
  void CreateFolder(std::string_view path);
  // The folder at a path; fails with 76 when there is none.
  Variant GetFolder(std::string_view path) const;
};

}  // namespace oapx1

#endif  // OAPX1_PLATFORM_FILES_FILE_SYSTEM_H_
