#include "cli/settings.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <functional>
#include <map>
#include <optional>

#include "platform/data/connection.h"
#include "platform/data/db_backend.h"
#include "platform/script/script.h"
#include "platform/text/ascii.h"
#include "util/ids_and_lists.h"

namespace oapx1 {
namespace {

// A table's first row: each column's text by its name in lower case;
// nullopt for null. Empty when the table has no row.
using Row = std::map<std::string, std::optional<std::string>>;

// One column to store and its value as a SQL literal.
struct Stored {
  std::string column;
  std::string literal;
};

// One setting: where it lives, how its columns read and how a value is stored.
struct Setting {
  SettingInfo info;
  std::string_view table;
  // The value as shown, from the table's first row.
  std::function<std::string(const Row&)> show;
  // The columns that hold `value`; throws SettingError for a value it does not take.
  std::function<std::vector<Stored>(const std::string& value)> store;
};

constexpr char kDefault[] = " (default)";

std::optional<std::string> column(const Row& row, std::string_view name) {
  const auto it = row.find(ascii_lower(name));
  return it == row.end() ? std::nullopt : it->second;
}

std::string text_literal(const std::string& text) { return "'" + sql_text(Variant(text)) + "'"; }

[[noreturn]] void refuse(std::string_view key, std::string_view takes, const std::string& value) {
  throw SettingError(std::string(key) + " takes " + std::string(takes) + ", not \"" + value + "\"");
}

// True when the text holds no control character (a line break would end a
// header of the mail the server sends).
bool printable(const std::string& text) {
  return std::none_of(text.begin(), text.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
  });
}

std::optional<int64_t> number_within(const std::string& text, int64_t low, int64_t high) {
  const std::optional<int64_t> n = whole_number(text);
  if (!n || *n < low || *n > high) return std::nullopt;
  return n;
}

// A yes-or-no setting stored as '1' / '0' in one column; a reader takes '1'
// as on, anything else as off.
Setting on_off(std::string_view key, std::string_view table, std::string column_name, bool fallback,
               std::string_view help) {
  return {{key, help}, table,
          [column_name, fallback](const Row& row) {
            const auto v = column(row, column_name);
            if (!v) return std::string(fallback ? "on" : "off") + kDefault;
            return std::string(trim(*v, " ") == "1" ? "on" : "off");
          },
          [key, column_name](const std::string& value) {
            const std::string v = ascii_lower(value);
            if (v == "on" || v == "yes" || v == "true" || v == "1") return std::vector<Stored>{{column_name, "'1'"}};
            if (v == "off" || v == "no" || v == "false" || v == "0") return std::vector<Stored>{{column_name, "'0'"}};
            refuse(key, "on or off", value);
          }};
}

// Free text in one column, checked by `valid`; `secret` shows only whether it is set.
Setting text(std::string_view key, std::string_view table, std::string column_name, std::string_view takes,
             bool (*valid)(const std::string&), std::string_view help, bool secret = false) {
  return {{key, help}, table,
          [column_name, secret](const Row& row) {
            const std::string v = column(row, column_name).value_or("");
            if (secret) return std::string(v.empty() ? "(not set)" : "(set)");
            return v;
          },
          [key, column_name, takes, valid](const std::string& value) {
            if (!valid(value)) refuse(key, takes, value);
            return std::vector<Stored>{{column_name, text_literal(value)}};
          }};
}

// A whole number within a range in one integer column.
Setting whole(std::string_view key, std::string_view table, std::string column_name, int64_t low, int64_t high,
              std::string fallback, std::string_view takes, std::string_view help) {
  return {{key, help}, table,
          [column_name, fallback](const Row& row) {
            const auto v = column(row, column_name);
            if (!v) return fallback.empty() ? std::string() : fallback + kDefault;
            if (!whole_number(*v)) return "unreadable: " + column_name + "=" + *v;
            return *v;
          },
          [=](const std::string& value) {
            const auto n = number_within(value, low, high);
            if (!n) refuse(key, takes, value);
            return std::vector<Stored>{{column_name, std::to_string(*n)}};
          }};
}

// A time of day "HH:MM" kept as an hour and a minute column; the reader's
// default for both is 1.
Setting clock_time(std::string_view key, std::string hour, std::string minute, std::string_view help) {
  return {{key, help}, "OA_AnQuan",
          [hour, minute](const Row& row) {
            const auto h = column(row, hour), m = column(row, minute);
            if (!h && !m) return std::string("01:01") + kDefault;
            const auto hn = number_within(h.value_or("1"), 0, 23), mn = number_within(m.value_or("1"), 0, 59);
            if (!hn || !mn) return "unreadable: " + hour + "=" + h.value_or("") + ", " + minute + "=" + m.value_or("");
            const auto two = [](int64_t n) { return std::string(n < 10 ? "0" : "") + std::to_string(n); };
            return two(*hn) + ":" + two(*mn);
          },
          [key, hour, minute](const std::string& value) {
            const size_t colon = value.find(':');
            const auto h = number_within(value.substr(0, colon), 0, 23);
            const auto m = colon == std::string::npos ? std::nullopt : number_within(value.substr(colon + 1), 0, 59);
            if (!h || !m) refuse(key, "a time HH:MM from 00:00 to 23:59", value);
            return std::vector<Stored>{{hour, text_literal(std::to_string(*h))},
                                       {minute, text_literal(std::to_string(*m))}};
          }};
}

constexpr std::array<std::string_view, 7> kDays = {"mon", "tue", "wed", "thu", "fri", "sat", "sun"};

// The weekdays sign-ins are allowed on: SM1 (Monday) to SM7 (Sunday), '0'
// refusing that day, anything else (and null) allowing it.
Setting weekdays() {
  return {{"login.days", "the days sign-ins are allowed on when login.weekdays is on: all, none\n"
                         "or a list such as mon,tue,wed,thu,fri"},
          "OA_AnQuan",
          [](const Row& row) {
            std::string days;
            int allowed = 0;
            bool any_stored = false;
            for (size_t d = 0; d < kDays.size(); ++d) {
              const auto v = column(row, "SM" + std::to_string(d + 1));
              any_stored = any_stored || v.has_value();
              if (v && trim(*v, " ") == "0") continue;
              days += (days.empty() ? "" : ",") + std::string(kDays[d]);
              ++allowed;
            }
            const std::string shown = allowed == 7 ? "all" : allowed == 0 ? "none" : days;
            return any_stored ? shown : shown + kDefault;
          },
          [](const std::string& value) {
            const std::string v = ascii_lower(value);
            std::array<bool, 7> on{};
            if (v == "all") on.fill(true);
            // An empty list is refused: "none" says on purpose that no day admits.
            if (v.empty()) refuse("login.days", "all, none or days from mon,tue,wed,thu,fri,sat,sun", value);
            if (v != "all" && v != "none") {
              for (const std::string& piece : vb::Split(v, ",")) {
                const auto at = std::find(kDays.begin(), kDays.end(), trim(piece, " "));
                if (at == kDays.end()) refuse("login.days", "all, none or days from mon,tue,wed,thu,fri,sat,sun", value);
                on[at - kDays.begin()] = true;
              }
            }
            std::vector<Stored> stored;
            for (size_t d = 0; d < on.size(); ++d) stored.push_back({"SM" + std::to_string(d + 1), on[d] ? "'1'" : "'0'"});
            return stored;
          }};
}

// Address prefixes separated by ",", each of digits, hex letters, "." and ":".
Setting address_prefixes() {
  return {{"login.ip-list", "address prefixes separated by \",\" (192.168.1.,10.), or none"},
          "OA_AnQuan",
          [](const Row& row) {
            const std::string v = column(row, "IPList").value_or("");
            return v.empty() ? std::string("none") : v;
          },
          [](const std::string& value) {
            std::string list;
            if (ascii_lower(value) != "none" && !value.empty()) {
              for (const std::string& piece : vb::Split(value, ",")) {
                const std::string_view prefix = trim(piece, " ");
                if (prefix.empty() || prefix.find_first_not_of("0123456789abcdefABCDEF.:") != std::string_view::npos) {
                  refuse("login.ip-list", "address prefixes separated by \",\", or none", value);
                }
                list += (list.empty() ? "" : ",") + std::string(prefix);
              }
            }
            return std::vector<Stored>{{"IPList", text_literal(list)}};
          }};
}

bool any_printable(const std::string& text) { return text.size() <= 254 && printable(text); }

bool short_printable(const std::string& text) { return text.size() <= 100 && printable(text); }

// A host name or IPv4 address, or an IPv6 address in brackets: the mail
// methods join it to the port with ":".
bool mail_host(const std::string& text) {
  if (text.empty() || text.size() > 253) return false;
  if (text.front() == '[') {
    return text.size() > 2 && text.back() == ']' &&
           text.substr(1, text.size() - 2).find_first_not_of("0123456789abcdefABCDEF:.") == std::string::npos;
  }
  return std::all_of(text.begin(), text.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_'; });
}

// local@domain without spaces, control characters or the characters that
// would change the SMTP dialogue or the header.
bool mail_address(const std::string& text) {
  const size_t at = text.find('@');
  return text.size() <= 254 && printable(text) && at != std::string::npos && at > 0 && at + 1 < text.size() &&
         text.find('@', at + 1) == std::string::npos && text.find_first_of(" <>()\",;") == std::string::npos;
}

const std::vector<Setting>& settings() {
  static const std::vector<Setting> all = {
      whole("session.timeout", "OA_AnQuan", "TimeOut", 1, 10080, "45", "minutes from 1 to 10080",
            "minutes a signed-in session lasts without a request"),
      on_off("login.ip-check", "OA_AnQuan", "ISIP", false, "check the sign-in address against login.ip-list"),
      {{"login.ip-list-mode", "refuse: login.ip-list names refused addresses; admit-only: the only\nadmitted ones"},
       "OA_AnQuan",
       [](const Row& row) {
         const auto v = column(row, "isYunXu");
         if (!v) return std::string("refuse") + kDefault;
         return std::string(trim(*v, " ") == "1" ? "refuse" : "admit-only");
       },
       [](const std::string& value) {
         const std::string v = ascii_lower(value);
         if (v != "refuse" && v != "admit-only") refuse("login.ip-list-mode", "refuse or admit-only", value);
         return std::vector<Stored>{{"isYunXu", v == "refuse" ? "'1'" : "'0'"}};
       }},
      address_prefixes(),
      on_off("login.time-window", "OA_AnQuan", "ISTime", false, "admit sign-ins only between login.time-start and\nlogin.time-end"),
      clock_time("login.time-start", "SHour", "SMinute", "the daily window's start, HH:MM"),
      clock_time("login.time-end", "EHour", "EMinute", "the daily window's end, HH:MM"),
      on_off("login.weekdays", "OA_AnQuan", "isWeek", false, "admit sign-ins only on login.days"),
      weekdays(),
      on_off("login.log-refused", "OA_AnQuan", "NotValid", false, "record refused sign-ins in the security log"),
      on_off("login.log-sign-ins", "OA_AnQuan", "LoginLog", false, "record sign-ins and sign-outs"),
      text("smtp.server", "SA_Smtp", "SMTPIP", "a host name or address ([v6] in brackets)", mail_host,
           "the outgoing mail server"),
      whole("smtp.port", "SA_Smtp", "SMTPPort", 1, 65535, "", "a port from 1 to 65535", "its port"),
      text("smtp.user", "SA_Smtp", "EUsername", "text without control characters", any_printable,
           "the account to log on with; empty: no log-on"),
      text("smtp.password", "SA_Smtp", "EPassword", "text without control characters", any_printable,
           "its password (shown only as set or not; give - to read it from stdin)", true),
      text("smtp.sender", "SA_Smtp", "EmailAddress", "a mail address such as oa@example.com", mail_address,
           "the sender address of the application's mail"),
      text("smtp.sender-name", "SA_Smtp", "SenderName", "up to 100 characters without control characters",
           short_printable, "the sender's display name"),
  };
  return all;
}

std::vector<SettingInfo> infos() {
  std::vector<SettingInfo> out;
  for (const Setting& s : settings()) out.push_back(s.info);
  return out;
}

}  // namespace

InstallationSettings::InstallationSettings(const std::string& url) : conn_(std::make_shared<Connection>()) {
  conn_->Open(Variant(url));
}

InstallationSettings::~InstallationSettings() {
  if (conn_->is_open()) conn_->Close();
}

std::span<const SettingInfo> InstallationSettings::keys() {
  static const std::vector<SettingInfo> all = infos();
  return all;
}

namespace {

Row first_row(Connection& conn, std::string_view table) {
  const DbResult r = conn.session().query("select * from " + std::string(table) + " order by OAID");
  Row row;
  if (r.rows.empty()) return row;
  for (size_t c = 0; c < r.rows[0].size(); ++c) {
    const Variant& v = r.rows[0][c];
    row[ascii_lower(r.columns[c].name)] = v.is_null() ? std::nullopt : std::optional<std::string>(v.str());
  }
  return row;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> InstallationSettings::show() {
  std::map<std::string_view, Row> rows;
  std::vector<std::pair<std::string, std::string>> out;
  for (const Setting& s : settings()) {
    if (!rows.contains(s.table)) rows[s.table] = first_row(*conn_, s.table);
    out.emplace_back(std::string(s.info.key), s.show(rows[s.table]));
  }
  return out;
}

void InstallationSettings::set(const std::string& key, const std::string& value) {
  const auto it = std::find_if(settings().begin(), settings().end(), [&](const Setting& s) { return s.info.key == key; });
  if (it == settings().end()) throw SettingError("no setting \"" + key + "\" (oapx1 settings show lists them)");
  const std::vector<Stored> stored = it->store(value);
  const std::string table(it->table);
  if (conn_->session().query("select OAID from " + table).rows.empty()) {
    std::string columns, values;
    for (const Stored& s : stored) {
      columns += (columns.empty() ? "" : ", ") + s.column;
      values += (values.empty() ? "" : ", ") + s.literal;
    }
    conn_->execute(Variant("insert into " + table + " (" + columns + ") values (" + values + ")"));
    return;
  }
  std::string assignments;
  for (const Stored& s : stored) assignments += (assignments.empty() ? "" : ", ") + s.column + "=" + s.literal;
  conn_->execute(Variant("update " + table + " set " + assignments));
}

MailServerSettings InstallationSettings::mail_server() {
  const Row row = first_row(*conn_, "SA_Smtp");
  const auto get = [&](const char* name) { return column(row, name).value_or(""); };
  return {get("SMTPIP"), get("SMTPPort"), get("EUsername"), get("EPassword"), get("EmailAddress"), get("SenderName")};
}

}  // namespace oapx1
