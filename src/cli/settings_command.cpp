// `oapx1 settings show | set KEY VALUE` and `oapx1 mail test ADDRESS`: the
// installation's settings by name, and a test of the outgoing mail server
// they name.
#include <algorithm>
#include <iostream>

#include "cli/commands.h"
#include "cli/options.h"
#include "cli/settings.h"
#include "platform/mail/smtp.h"

namespace oapx1 {
namespace {

// Where the help of each key starts on its line.
constexpr size_t kKeyColumn = 22;

std::string key_lines() {
  std::string out;
  for (const SettingInfo& s : InstallationSettings::keys()) {
    std::string line = "  " + std::string(s.key);
    line += std::string(std::max<size_t>(2, kKeyColumn - std::min(line.size(), kKeyColumn)), ' ');
    for (const char c : s.help) line += c == '\n' ? "\n" + std::string(kKeyColumn, ' ') : std::string(1, c);
    out += line + "\n";
  }
  return out;
}

// The value of `settings set KEY VALUE`; "-" reads the first line of stdin,
// so that a password need not stand on the command line.
std::string given_value(const std::string& word) {
  if (word != "-") return word;
  std::string line;
  if (!std::getline(std::cin, line)) throw UsageError{"settings set: no value on stdin", false};
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

int show(InstallationSettings& settings, const std::vector<std::string>& words) {
  if (words.size() > 2) throw UsageError{"usage: oapx1 settings show [KEY]"};
  bool found = false;
  for (const auto& [key, value] : settings.show()) {
    if (words.size() == 2 && key != words[1]) continue;
    found = true;
    std::cout << key << std::string(std::max<size_t>(1, kKeyColumn - std::min(key.size(), kKeyColumn)), ' ')
              << value << "\n";
  }
  if (!found) throw UsageError{"no setting \"" + words[1] + "\" (oapx1 settings --help lists them)", false};
  return 0;
}

}  // namespace

std::string settings_usage() {
  return "usage: oapx1 settings show [KEY] [--db URL] [--config FILE]\n"
         "       oapx1 settings set KEY VALUE [--db URL] [--config FILE]\n"
         "Shows or changes the session time-out, the sign-in access policy and the outgoing\n"
         "mail server. show prints each setting and its value, \"(default)\" after the value\n"
         "the application applies when none is stored. set checks the value and stores it;\n"
         "it applies from the next sign-in or request on. VALUE - reads the value from the\n"
         "first line of stdin. A value a setting does not take exits with status 2, nothing\n"
         "stored.\n"
         "settings:\n" +
         key_lines() + "options:\n" + flag_lines(common_flags());
}

int settings_command(const std::vector<std::string>& args) {
  const CommandLine line(args, {}, Words::kNotDoubleDashed);
  const std::vector<std::string>& words = line.words();
  const std::string sub = words.empty() ? std::string() : words[0];
  if (sub != "show" && sub != "set") throw UsageError{"settings takes the subcommand show or set"};
  if (sub == "set" && words.size() != 3) throw UsageError{"usage: oapx1 settings set KEY VALUE"};
  InstallationSettings settings(line.existing_database());
  if (sub == "show") return show(settings, words);
  try {
    settings.set(words[1], given_value(words[2]));
  } catch (const SettingError& e) {
    throw UsageError{e.what(), false};
  }
  return show(settings, {"show", words[1]});
}

std::string mail_usage() {
  return "usage: oapx1 mail test ADDRESS [--db URL] [--config FILE]\n"
         "Sends a test message to ADDRESS through the outgoing mail server of the settings\n"
         "(oapx1 settings show smtp.server), from its sender address, logging on with its\n"
         "account when one is set, and prints the outcome in one line: accepted, or why not\n"
         "(the server cannot be reached, refuses the log-on, the sender or the recipient).\n"
         "Exit status 0 when the server accepted the message, else 1.\n"
         "options:\n" +
         flag_lines(common_flags());
}

int mail_command(const std::vector<std::string>& args) {
  const CommandLine line(args, {}, Words::kNotDashed);
  const std::vector<std::string>& words = line.words();
  if (words.size() != 2 || words[0] != "test") throw UsageError{"usage: oapx1 mail test ADDRESS"};
  InstallationSettings settings(line.existing_database());
  const MailServerSettings smtp = settings.mail_server();
  if (smtp.host.empty()) {
    std::cout << "mail: not sent: no outgoing mail server is set (oapx1 settings set smtp.server HOST)\n";
    return 1;
  }
  const std::string where = smtp.host + ":" + (smtp.port.empty() ? "25" : smtp.port);
  try {
    MailServer server = parse_mail_server(where);
    server.username = smtp.username;
    server.password = smtp.password;
    OutgoingMail mail;
    mail.from_address = smtp.sender;
    mail.from_name = smtp.sender_name;
    mail.recipients = {words[1]};
    mail.subject = "oapx1 邮件测试 (test message)";
    mail.body = "This message was sent by oapx1 mail test through " + where + " to check the outgoing mail "
                "server settings.\r\n";
    send_mail(server, mail);
  } catch (const std::exception& e) {
    std::cout << "mail: not sent: " << e.what() << "\n";
    return 1;
  }
  std::cout << "mail: " << where << " accepted the test message from " << smtp.sender << " to " << words[1] << "\n";
  return 0;
}

}  // namespace oapx1
