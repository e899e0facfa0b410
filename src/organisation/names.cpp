#include "organisation/names.h"

#include <algorithm>

#include "platform/text/ascii.h"
#include "platform/text/csv_reader.h"
#include "util/ids_and_lists.h"

namespace oapx1 {
namespace {

bool has_control(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7F;
  });
}

// Why `name` is no name of 1 to kMaxNameLength characters of UTF-8 text
// without control characters, or "".
std::string text_fault(std::string_view name) {
  if (!valid_utf8(name)) return "is not UTF-8 text";
  if (trim(name, " ").empty()) return "is empty";
  if (has_control(name)) return "holds a control character (a tab or a line break)";
  if (character_count(name) > kMaxNameLength) {
    return "is longer than " + std::to_string(kMaxNameLength) + " characters";
  }
  return "";
}

}  // namespace

bool valid_login(std::string_view login) {
  if (login.empty() || login.size() > 50) return false;
  return std::none_of(login.begin(), login.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u <= 0x20 || u == 0x7F || std::string_view(";,*'\"<>&%").find(c) != std::string_view::npos;
  });
}

size_t character_count(std::string_view text) {
  return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

std::string department_name_fault(std::string_view name) {
  if (std::string fault = text_fault(name); !fault.empty()) return fault;
  if (name.find('/') != std::string_view::npos) return "holds a \"/\", which separates the names of a path";
  if (trim(name, " ") != name) return "begins or ends with a space";
  if (whole_number(name)) return "is a number alone, which would read as a department id";
  return "";
}

std::string person_name_fault(std::string_view name) { return text_fault(name); }

std::vector<std::string> split_department_path(std::string_view path) {
  std::string_view rest = trim(path, " ");
  if (rest.starts_with('/')) rest.remove_prefix(1);
  if (rest.empty()) throw OrganisationError("the department path is empty");
  const size_t levels = static_cast<size_t>(std::count(rest.begin(), rest.end(), '/')) + 1;
  if (levels > kMaxDepartmentDepth) {
    throw OrganisationError("the department path has " + std::to_string(levels) + " levels; departments nest at most " +
                            std::to_string(kMaxDepartmentDepth) + " deep");
  }
  std::vector<std::string> names;
  while (true) {
    const size_t slash = rest.find('/');
    const std::string_view name = trim(rest.substr(0, slash), " ");
    if (name.empty()) throw OrganisationError("the department path \"" + std::string(path) + "\" has an empty name");
    if (const std::string fault = department_name_fault(name); !fault.empty()) {
      throw OrganisationError("the department name \"" + std::string(name) + "\" " + fault);
    }
    names.emplace_back(name);
    if (slash == std::string_view::npos) break;
    rest.remove_prefix(slash + 1);
  }
  return names;
}

}  // namespace oapx1
