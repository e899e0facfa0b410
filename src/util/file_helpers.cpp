// File and folder helpers: each call creates its own file system object,
// checks existence first, does one operation and releases the object, so a
// missing target is a silent no-op rather than a failure.
#include <string>

#include "host/page.h"
#include "platform/components/components.h"
#include "platform/files/file_system.h"

namespace oapx1 {
namespace {

Variant file_system() { return CreateObject("Scripting.FileSystemObject"); }

}  // namespace

void Page::deletefile(Variant& path) {
  report_and_leave(__func__, [&] {
    Variant fso = file_system();
    auto& fs = fso.as<FileSystemObject>();
    if (fs.FileExists(path.to_text())) fs.DeleteFile(path.to_text());
  });
}

void Page::copyfile(Variant& source, Variant& destination) {
  report_and_leave(__func__, [&] {
    Variant fso = file_system();
    auto& fs = fso.as<FileSystemObject>();
    if (fs.FileExists(source.to_text())) fs.CopyFile(source.to_text(), destination.to_text());
  });
}

void Page::deletefolder(Variant& path) {
  report_and_leave(__func__, [&] {
    Variant fso = file_system();
    auto& fs = fso.as<FileSystemObject>();
    if (fs.FolderExists(path.to_text())) fs.DeleteFolder(path.to_text(), true);
  });
}

void Page::createfolder(Variant& path) {
  report_and_leave(__func__, [&] {
    Variant fso = file_system();
    auto& fs = fso.as<FileSystemObject>();
    if (!fs.FolderExists(path.to_text())) fs.CreateFolder(path.to_text());
  });
}

Variant Page::folderisexist(Variant& path) {
  return reported(__func__, [&](Variant& result) {
    Variant fso = file_system();
    result = fso.as<FileSystemObject>().FolderExists(path.to_text());
  });
}

Variant Page::getfolderfilescount(Variant& path) {
  return reported(__func__, [&](Variant& result) {
    Variant fso = file_system();
    auto& fs = fso.as<FileSystemObject>();
    if (fs.FolderExists(path.to_text())) {
      Variant folder = fs.GetFolder(path.to_text());
      Variant files = folder.as<Folder>().Files();
      result = static_cast<long long>(files.as<Files>().Count());
    } else {
      result = 0;
    }
  });
}

Variant Page::getfolderfileslist(Variant& path) {
  return reported(__func__, [&](Variant& result) {
    Variant fso = file_system();
    auto& fs = fso.as<FileSystemObject>();
    if (!fs.FolderExists(path.to_text())) {
      result = "";
      return;
    }
    Variant folder = fs.GetFolder(path.to_text());
    Variant files = folder.as<Folder>().Files();
    std::string list = "*";
    for (const auto& file : files.as<Files>().items()) list += file->Name() + "*";
    if (!list.empty() && list.front() == '*') list.erase(0, 1);
    if (!list.empty() && list.back() == '*') list.pop_back();
    result = std::move(list);
  });
}

}  // namespace oapx1
