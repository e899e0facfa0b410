// The installation's settings by name, as an operator changes them from the
// command line instead of with SQL: the session time-out and the sign-in
// access policy (the row of OA_AnQuan the session guard and the policy read)
// and the outgoing mail server (the row of SA_Smtp the mail methods read),
// each value checked before it is stored, on either engine.
#ifndef OAPX1_CLI_SETTINGS_H_
#define OAPX1_CLI_SETTINGS_H_

#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace oapx1 {

class Connection;

// A key that is not a setting, or a value the setting does not take; the
// message names the key and the values it takes.
struct SettingError : std::invalid_argument {
  using std::invalid_argument::invalid_argument;
};

// One named setting as `settings --help` lists it.
struct SettingInfo {
  std::string_view key;   // "session.timeout"
  std::string_view help;  // what it is and the values it takes
};

// The outgoing mail server as the mail methods use it: the first row of
// SA_Smtp (the one of the lowest OAID), empty texts for what is not set.
struct MailServerSettings {
  std::string host;         // SMTPIP
  std::string port;         // SMTPPort; empty: the SMTP default
  std::string username;     // EUsername; empty: no log-on
  std::string password;     // EPassword
  std::string sender;       // EmailAddress
  std::string sender_name;  // SenderName
};

class InstallationSettings {
 public:
  // Opens the database at `url`; fails as Connection::Open does.
  explicit InstallationSettings(const std::string& url);
  ~InstallationSettings();
  InstallationSettings(const InstallationSettings&) = delete;
  InstallationSettings& operator=(const InstallationSettings&) = delete;

  // Every setting, in the order `show` prints them.
  static std::span<const SettingInfo> keys();

  // Each setting with its value as `set` takes it: "on", "08:30", ...; the
  // value a reader applies, followed by " (default)", when nothing is stored;
  // the mail server's password only as "(set)" or "(not set)". A stored
  // value no setting reads as one (a time "x:1") is shown as
  // "unreadable: COLUMN=TEXT, ...". The table's row of the lowest OAID.
  std::vector<std::pair<std::string, std::string>> show();

  // Checks `value` for `key` and stores it in every row of its table, so
  // that whichever row a reader takes holds it; a table without a row gets
  // one. Throws SettingError, storing nothing, for an unknown key or a value
  // the setting does not take.
  void set(const std::string& key, const std::string& value);

  // The outgoing mail server settings.
  MailServerSettings mail_server();

 private:
  std::shared_ptr<Connection> conn_;  // open for the object's lifetime
};

}  // namespace oapx1

#endif  // OAPX1_CLI_SETTINGS_H_
