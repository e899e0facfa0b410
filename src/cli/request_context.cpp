#include "cli/request_context.h"

#include "platform/components/components.h"
#include "server/web_application.h"

namespace oapx1 {
namespace {

// The name and value of a NAME=VALUE item; nullopt without a name or "=".
std::optional<std::pair<std::string, std::string>> name_value(const std::string& text) {
  const size_t eq = text.find('=');
  if (eq == std::string::npos || eq == 0) return std::nullopt;
  return std::pair(text.substr(0, eq), text.substr(eq + 1));
}

void check_name_value(std::string_view flag, const std::string& text) {
  if (!name_value(text)) throw UsageError{std::string(flag) + " takes NAME=VALUE, got \"" + text + "\""};
}

// The page clock of --now: YYYY-MM-DDTHH:MM:SS (or with a space for the T).
std::optional<DateTime> page_clock(const std::string& text) {
  std::string spaced = text;
  if (spaced.size() > 10 && spaced[10] == 'T') spaced[10] = ' ';
  return parse_datetime(spaced);
}

void check_page_clock(std::string_view, const std::string& text) {
  if (!page_clock(text)) throw UsageError{"--now takes YYYY-MM-DDTHH:MM:SS, got \"" + text + "\""};
}

constexpr Flag kRequestFlags[] = {
    {"--query", "NAME=VALUE", true, "a query string item (repeatable)", check_name_value},
    {"--form", "NAME=VALUE", true, "a posted form item (repeatable)", check_name_value},
    {"--session", "NAME=VALUE", true, "a session item (repeatable)", check_name_value},
    {"--application", "NAME=VALUE", true,
     "an application item (repeatable); TavrinOAURL defaults\nto /oa/, the application root of oapx1 serve",
     check_name_value},
    {"--now", "YYYY-MM-DDTHH:MM:SS", false, "the page clock", check_page_clock},
    {"--utf8", "", false, "write the body in UTF-8"},
};

std::vector<std::pair<std::string, std::string>> name_values(const CommandLine& line, std::string_view flag) {
  std::vector<std::pair<std::string, std::string>> items;
  for (const std::string& text : line.values(flag)) items.push_back(*name_value(text));
  return items;
}

}  // namespace

std::span<const Flag> request_flags() { return kRequestFlags; }

std::string request_options_usage() {
  return "request options:\n" + flag_lines(common_flags()) + flag_lines(kRequestFlags);
}

RequestOptions request_options(const CommandLine& line) {
  RequestOptions options;
  options.query = name_values(line, "--query");
  options.form = name_values(line, "--form");
  options.session = name_values(line, "--session");
  options.application = name_values(line, "--application");
  if (line.has("--now")) options.now = page_clock(line.value("--now"));
  options.utf8 = line.has("--utf8");
  options.db = line.database();
  return options;
}

CommandRequest::CommandRequest(const RequestOptions& options)
    : settings_([&](ProcessSettings& s) {
        if (!options.db.empty()) s.database = options.db;
        s.fixed_now = options.now;
        s.event_log = &events_;
      }),
      call_(application_state_) {
  call_.request = MemoryRequest(options.query, options.form);
  for (const auto& [name, value] : options.session) call_.session.set_item(name, value);
  // The login redirect goes where the server's would by default.
  application_state_.set_item("TavrinOAURL", Variant(kDefaultAppRoot));
  for (const auto& [name, value] : options.application) application_state_.set_item(name, value);
  call_.bind();
}

}  // namespace oapx1
