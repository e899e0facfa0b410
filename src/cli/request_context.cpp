#include "cli/request_context.h"

#include "platform/components/components.h"
#include "server/web_application.h"

namespace oapx1 {
namespace {

std::pair<std::string, std::string> name_value(const std::string& option, const std::string& text) {
  const size_t eq = text.find('=');
  if (eq == std::string::npos || eq == 0)
    throw UsageError{option + " takes NAME=VALUE, got \"" + text + "\""};
  return {text.substr(0, eq), text.substr(eq + 1)};
}

}  // namespace

bool take_request_option(const std::vector<std::string>& args, size_t& i, RequestOptions& options) {
  const std::string& option = args[i];
  auto value = [&]() -> const std::string& {
    if (i + 1 >= args.size()) throw UsageError{option + " needs a value"};
    return args[++i];
  };
  if (option == "--db") options.db = value();
  else if (option == "--query") options.query.push_back(name_value(option, value()));
  else if (option == "--form") options.form.push_back(name_value(option, value()));
  else if (option == "--session") options.session.push_back(name_value(option, value()));
  else if (option == "--application") options.application.push_back(name_value(option, value()));
  else if (option == "--utf8") options.utf8 = true;
  else if (option == "--now") {
    const std::string& text = value();
    std::string spaced = text;
    if (spaced.size() > 10 && spaced[10] == 'T') spaced[10] = ' ';
    auto when = parse_datetime(spaced);
    if (!when) throw UsageError{"--now takes YYYY-MM-DDTHH:MM:SS, got \"" + text + "\""};
    options.now = *when;
  } else {
    return false;
  }
  return true;
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
