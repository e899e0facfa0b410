#include "server/serve.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <system_error>

#include "platform/data/database_admin.h"
#include "platform/data/db_pool.h"
#include "platform/web/event_log.h"
#include "platform/web/process.h"
#include "server/form.h"
#include "server/http_server.h"
#include "server/sign_in.h"
#include "platform/web/login_exempt.h"
#include "server/logs.h"
#include "platform/text/ascii.h"

namespace oapx1 {
namespace {

// Configuration lines may end in CR LF.
std::string_view trim(std::string_view s) { return oapx1::trim(s, " \t\r"); }

// "--read_timeout" and "Read-Timeout" name the same setting.
std::string normalise_key(std::string_view key) {
  std::string out = ascii_lower(trim(key));
  for (char& c : out) {
    if (c == '_') c = '-';
  }
  return out;
}

long long to_number(const std::string& key, const std::string& value, long long min, long long max) {
  size_t used = 0;
  long long n = 0;
  try {
    n = std::stoll(value, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != value.size() || n < min || n > max) {
    throw std::invalid_argument(key + ": expected a whole number from " + std::to_string(min) +
                                " to " + std::to_string(max) + ", got \"" + value + "\"");
  }
  return n;
}

bool to_bool(const std::string& key, const std::string& value) {
  const std::string v = ascii_lower(value);
  if (v == "1" || v == "true" || v == "yes" || v == "on") return true;
  if (v == "0" || v == "false" || v == "no" || v == "off") return false;
  throw std::invalid_argument(key + ": expected true or false, got \"" + value + "\"");
}

void apply_listen(ServerOptions& options, const std::string& value) {
  std::string address = options.address;
  std::string port = value;
  const size_t colon = value.rfind(':');
  if (colon != std::string::npos) {
    address = value.substr(0, colon);
    port = value.substr(colon + 1);
    if (address.size() >= 2 && address.front() == '[' && address.back() == ']') {
      address = address.substr(1, address.size() - 2);  // [::1]:8080
    }
    if (address.empty()) address = options.address;
  }
  if (address == "localhost") address = "127.0.0.1";
  options.address = address;
  options.port = static_cast<uint16_t>(to_number("listen", port, 0, 65535));
}

void apply_config_file(ServerOptions& options, const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::invalid_argument("cannot read the configuration file " + path);
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    std::string_view text = trim(line);
    if (text.empty() || text.front() == '#' || text.front() == ';') continue;
    const size_t eq = text.find('=');
    if (eq == std::string_view::npos) {
      throw std::invalid_argument(path + ":" + std::to_string(number) + ": expected key = value");
    }
    try {
      apply_serve_setting(options, std::string(trim(text.substr(0, eq))),
                          std::string(trim(text.substr(eq + 1))));
    } catch (const std::invalid_argument& e) {
      throw std::invalid_argument(path + ":" + std::to_string(number) + ": " + e.what());
    }
  }
}

// Where the database URL in force came from, for messages.
std::string database_source(const std::string& configured) {
  if (!configured.empty()) return "--db or the configuration file's db";
  if (const char* env = std::getenv("OAPX1_DB"); env && *env) return "the environment variable OAPX1_DB";
  return "the default";
}

// What to do about a database that cannot serve, after the problem itself.
std::string database_advice(const DatabaseProblem& problem, const std::string& url,
                            const std::string& configured) {
  const std::string shown = printable_database_url(url);
  switch (problem.kind) {
    case DatabaseProblem::Kind::kUnsupported:
      return "correct it where it came from: " + database_source(configured);
    case DatabaseProblem::Kind::kMissing:
    case DatabaseProblem::Kind::kNoSchema:
      return "create it with: oapx1 db init --db " + shown + " [--demo]";
    case DatabaseProblem::Kind::kUnwritable:
      return "the server writes to it: make the file and its folder writable by the user it runs as, "
             "or move the database to a writable file system";
    case DatabaseProblem::Kind::kUnreachable:
      break;
  }
  return "check that the database server runs and that the URL (from " +
         database_source(configured) + "), user and password are right";
}

}  // namespace

void apply_serve_setting(ServerOptions& options, const std::string& raw_key, const std::string& value) {
  const std::string key = normalise_key(raw_key);
  if (key == "listen") {
    apply_listen(options, value);
  } else if (key == "db" || key == "database") {
    if (value.empty()) throw std::invalid_argument("db: empty connection string");
    options.database = value;
  } else if (key == "session-store") {
    if (value != "memory" && value.rfind("redis://", 0) != 0) {
      throw std::invalid_argument("session-store: memory or redis://host:port/db");
    }
    options.session_store = value;
  } else if (key == "docroot") {
    options.docroot = value;
  } else if (key == "threads") {
    options.threads = static_cast<int>(to_number(key, value, 0, 256));
  } else if (key == "app-root") {
    options.app_root = value;
  } else if (key == "oa-url" || key == "tavrinoaurl") {
    options.oa_url = value;
  } else if (key == "system-url" || key == "systemurl") {
    options.system_url = value;
  } else if (key == "demo-login") {
    options.demo_login = to_bool(key, value);
  } else if (key == "access-log") {
    options.access_log = value;
  } else if (key == "language") {
    if (value != "zh-CN" && value != "en") throw std::invalid_argument("language: zh-CN or en");
    options.language = value;
  } else if (key == "login-exempt") {
    options.login_exempt = value;
  } else if (key == "max-header") {
    options.header_limit = static_cast<size_t>(to_number(key, value, 1024, 1 << 20));
  } else if (key == "max-body") {
    options.body_limit = static_cast<size_t>(to_number(key, value, 0, 1LL << 30));
  } else if (key == "read-timeout") {
    options.read_timeout = std::chrono::seconds(to_number(key, value, 1, 3600));
  } else if (key == "write-timeout") {
    options.write_timeout = std::chrono::seconds(to_number(key, value, 1, 3600));
  } else if (key == "page-threads") {
    options.page_threads = static_cast<int>(to_number(key, value, 0, 256));
  } else if (key == "page-queue") {
    options.page_queue = static_cast<size_t>(to_number(key, value, 1, 100000));
  } else if (key == "max-connections") {
    options.max_connections = static_cast<size_t>(to_number(key, value, 0, 1000000));
  } else if (key == "db-lock-wait") {
    options.db_lock_wait = std::chrono::seconds(to_number(key, value, 0, 3600));
  } else if (key == "secure-cookies") {
    options.secure_cookies = to_bool(key, value);
  } else if (key == "trusted-proxies") {
    try {
      options.trusted_proxies = TrustedProxies::parse(value);
    } catch (const std::invalid_argument& e) {
      throw std::invalid_argument(key + ": " + e.what());
    }
  } else if (key == "login-failures") {
    options.login_failures = static_cast<int>(to_number(key, value, 0, 100000));
  } else {
    throw UnknownSetting("unknown setting \"" + raw_key + "\"");
  }
}

ServerOptions parse_serve_args(const std::vector<std::string>& args) {
  ServerOptions options;
  // The configuration file first, whatever its place: flags override it.
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--config") {
      if (i + 1 >= args.size()) throw std::invalid_argument("--config needs a file");
      apply_config_file(options, args[i + 1]);
    } else if (args[i].rfind("--config=", 0) == 0) {
      apply_config_file(options, args[i].substr(9));
    }
  }
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.rfind("--", 0) != 0) {
      throw std::invalid_argument(arg.starts_with("-") ? "unknown option " + arg
                                                       : "unexpected argument \"" + arg + "\"");
    }
    std::string name = arg.substr(2);
    std::string value;
    bool has_value = false;
    if (const size_t eq = name.find('='); eq != std::string::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
      has_value = true;
    }
    if (name == "demo-login" && !has_value) {
      options.demo_login = true;
      continue;
    }
    if (name == "no-demo-login" && !has_value) {
      options.demo_login = false;
      continue;
    }
    if (!has_value) {
      if (i + 1 >= args.size()) {
        ServerOptions scratch;
        try {
          apply_serve_setting(scratch, name, "");
        } catch (const UnknownSetting&) {
          throw std::invalid_argument("unknown option " + arg);
        } catch (const std::invalid_argument&) {
        }
        throw std::invalid_argument(arg + " needs a value");
      }
      value = args[++i];
    }
    if (name == "config") continue;  // applied above
    try {
      apply_serve_setting(options, name, value);
    } catch (const UnknownSetting&) {
      throw std::invalid_argument("unknown option " + arg.substr(0, arg.find('=')));
    } catch (const std::invalid_argument& e) {
      throw std::invalid_argument(std::string("--") + e.what());
    }
  }
  return options;
}

std::string serve_usage() {
  return "usage: oapx1 serve [--listen ADDR:PORT] [--db URL] [--docroot DIR] [--threads N]\n"
         "                   [--config FILE] [--app-root PATH] [--oa-url URL] [--system-url URL]\n"
         "                   [--demo-login | --no-demo-login] [--max-header BYTES] [--max-body BYTES]\n"
         "                   [--read-timeout SECONDS] [--write-timeout SECONDS] [--language zh-CN|en]\n"
         "                   [--page-threads N] [--page-queue N] [--max-connections N]\n"
         "                   [--db-lock-wait SECONDS] [--secure-cookies true|false]\n"
         "                   [--trusted-proxies LIST] [--login-failures N] [--login-exempt ACCOUNT,...]\n"
         "                   [--access-log FILE|-] [--session-store memory|redis://HOST:PORT/DB]\n"
         "Serves the workflow node settings page over HTTP (see docs/serve.md).\n"
         "Defaults: 127.0.0.1:8080, the database of $OAPX1_DB else sqlite:var/oa.db, the shipped\n"
         "www/ folder, one thread per core. The database must exist with its schema\n"
         "(oapx1 db init); the server does not create it.\n";
}

int serve_command(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (arg == "--help" || arg == "-h") {
      std::cout << serve_usage();
      return 0;
    }
  }
  ServerOptions options;
  try {
    options = parse_serve_args(args);
  } catch (const std::invalid_argument& e) {
    std::cerr << "oapx1 serve: " << e.what() << "\n" << serve_usage();
    return 2;
  }
  options.handle_signals = true;
  // Each request reads one snapshot of the database: its reads share one read
  // transaction (one set of file locks), as fresh as the latest commit when
  // its first read ran.
  DbPool::instance().set_request_snapshots(true);
  keep_freed_memory();
  // The accounts the login access policy spares; without the setting, the environment's.
  if (options.login_exempt) set_login_exempt(*options.login_exempt);
  // The weekday names of the server's regional settings, as getsj shows them.
  if (options.language == "en") {
    update_process_settings([](ProcessSettings& s) {
      s.weekday_names = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
    });
  }

  // The database is checked before anything listens; nothing is created.
  const std::string configured = options.database;
  options.database = resolve_database(configured);
  if (const auto problem = check_database(options.database)) {
    std::cerr << "oapx1 serve: " << problem->message << "; "
              << database_advice(*problem, options.database, configured) << std::endl;
    return 1;
  }

  ServerEventLog log;
  set_event_log(&log);
  int code = 0;
  try {
    HttpServer server(options);
    const WebApplication& app = server.application();
    std::string host = server.address();
    if (host.find(':') != std::string::npos) host = "[" + host + "]";
    const std::string base = "http://" + host + ":" + std::to_string(server.port());
    std::cout << "oapx1 serve: listening on " << base << "/\n"
              << "  page:     " << base << app.page_path() << "?OAID=1\n"
              << "  database: " << printable_database_url(app.options().database) << "\n"
              << "  sessions: " << app.options().session_store << "\n"
              << "  docroot:  " << std::filesystem::absolute(app.options().docroot.empty()
                                                                 ? default_docroot()
                                                                 : app.options().docroot)
                                       .lexically_normal()
                                       .string()
              << "\n"
              << "  login:    "
              << (app.demo_login_enabled() ? "demo login at " + base + app.options().app_root + "login.asp"
                                           : std::string("demo login off"))
              << "\n"
              << "  threads:  " << server.threads() << "\n"
              << "Press Ctrl+C to stop." << std::endl;
    server.run();
    std::cout << "oapx1 serve: stopped" << std::endl;
  } catch (const std::exception& e) {
    std::string message = e.what();
    if (message.starts_with("cannot listen on")) {
      message += "; choose another address or port with --listen ADDR:PORT (the setting listen)";
    }
    std::cerr << "oapx1 serve: " << message << std::endl;
    code = 1;
  }
  set_event_log(nullptr);
  return code;
}

}  // namespace oapx1
