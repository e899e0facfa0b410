#include <algorithm>
#include <fstream>
#include <iostream>
#include <limits>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/commands.h"
#include "cli/method_table.h"
#include "pages/flownode/node_settings_page.h"
#include "cli/options.h"
#include "cli/request_context.h"
#include "platform/web/process.h"

namespace oapx1 {
namespace {

using json = nlohmann::ordered_json;

// The node page with the frame callbacks replaced by markers, so a frame's
// own output can be read apart from the page's.
class MarkerPage : public tvwortqflowjiedia {
 public:
  void winmenu() override { response_object().write("[winmenu]"); }
  void showcontent() override { response_object().write("[showcontent]"); }
};

json to_json(const Variant& v) {
  switch (v.type()) {
    case Variant::Type::kEmpty: return {{"type", "empty"}};
    case Variant::Type::kNull: return {{"type", "null"}};
    case Variant::Type::kBoolean: return {{"type", "boolean"}, {"value", v.boolean()}};
    case Variant::Type::kInteger: return {{"type", "integer"}, {"value", v.integer()}};
    case Variant::Type::kDouble: return {{"type", "double"}, {"value", v.real()}};
    case Variant::Type::kDate: return {{"type", "date"}, {"value", format_iso(v.date())}};
    case Variant::Type::kText: return {{"type", "string"}, {"value", v.text()}};
    case Variant::Type::kObject: return {{"type", v.has_object() ? "object" : "nothing"}};
  }
  return nullptr;
}

Variant from_json(const json& j, const std::string& what) {
  if (j.is_null()) return Variant::null();
  if (j.is_string()) return Variant(j.get<std::string>());
  if (j.is_boolean()) return Variant(j.get<bool>());
  if (j.is_number_unsigned()) {
    // Beyond the whole numbers a variant holds, the number is kept as a double.
    const uint64_t u = j.get<uint64_t>();
    if (u > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return Variant(static_cast<double>(u));
    return Variant(static_cast<int64_t>(u));
  }
  if (j.is_number_integer()) return Variant(j.get<int64_t>());
  if (j.is_number_float()) return Variant(j.get<double>());
  if (j.is_object() && j.contains("type") && j["type"].is_string()) {
    const std::string type = j["type"];
    const json value = j.value("value", json());
    if (type == "empty") return Variant();
    if (type == "null") return Variant::null();
    if (type == "date" && value.is_string()) {
      if (auto d = parse_datetime(value.get<std::string>())) return Variant(*d);
      throw UsageError{what + ": not a date \"" + value.get<std::string>() + "\""};
    }
    if (type == "string" && value.is_string()) return Variant(value.get<std::string>());
    if (type == "integer" && value.is_number_integer() &&
        !(value.is_number_unsigned() &&
          value.get<uint64_t>() > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))) {
      return Variant(value.get<int64_t>());
    }
    if (type == "double" && value.is_number()) return Variant(value.get<double>());
    if (type == "boolean" && value.is_boolean()) return Variant(value.get<bool>());
  }
  throw UsageError{what + ": not a value: " + j.dump()};
}

// An argument: a JSON value, or @PATH naming a file that holds one.
Variant parse_argument(const std::string& text, const std::string& what) {
  std::string source = text;
  if (!text.empty() && text[0] == '@') {
    std::ifstream in(text.substr(1), std::ios::binary);
    if (!in) throw UsageError{what + ": cannot read " + text.substr(1)};
    std::ostringstream s;
    s << in.rdbuf();
    source = s.str();
  }
  json j = json::parse(source, nullptr, false);
  if (j.is_discarded()) throw UsageError{what + ": not JSON: " + text.substr(0, 200)};
  return from_json(j, what);
}

void check_field(std::string_view, const std::string& preset) {
  const size_t eq = preset.find('=');
  if (eq == std::string::npos || eq == 0) throw UsageError{"--field takes NAME=JSON"};
}

void check_callbacks(std::string_view, const std::string& value) {
  if (value != "markers") throw UsageError{"--callbacks takes \"markers\""};
}

// The flags of `oapx1 call` besides the request options.
constexpr Flag kCallFlags[] = {
    {"--field", "NAME=JSON", true, "preset the page variable NAME just before the call\n(repeatable)",
     check_field},
    {"--no-init", "", false, "do not run the include initialisers first"},
    {"--callbacks", "markers", false, "make the frame callbacks write [winmenu] and [showcontent]",
     check_callbacks},
};

int list_methods() {
  for (const MethodEntry& entry : method_table()) std::cout << entry.name << " " << entry.argc << "\n";
  return 0;
}

}  // namespace

std::string call_usage() {
  return "usage: oapx1 call METHOD [ARG]... [request options] [--field NAME=JSON]... [--no-init]\n"
         "                  [--callbacks markers]\n"
         "       oapx1 call --list\n"
         "Invokes one method of the page class; ARG is a JSON value or @FILE. Prints one JSON\n"
         "object. An unknown method or a wrong argument count exits with status 2.\n\n" +
         request_options_usage() + "call options:\n" + flag_lines(kCallFlags);
}

int call_command(const std::vector<std::string>& args) {
  if (!args.empty() && args[0] == "--list") return list_methods();
  if (args.empty() || args[0].starts_with("--")) throw UsageError{"call needs a METHOD name"};
  const MethodEntry* method = find_method(args[0]);
  if (!method) throw UsageError{"unknown method \"" + args[0] + "\" (oapx1 call --list shows them)"};

  const std::span<const std::string> after_method = std::span(args).subspan(1);
  const CommandLine line(after_method, {request_flags(), kCallFlags}, Words::kNotDoubleDashed);
  const RequestOptions options = request_options(line);
  const std::vector<std::string>& raw_args = line.words();
  const bool no_init = line.has("--no-init");
  const bool markers = line.has("--callbacks");
  if (static_cast<int>(raw_args.size()) != method->argc) {
    throw UsageError{std::string(method->name) + " takes " + std::to_string(method->argc) +
                     " argument(s), got " + std::to_string(raw_args.size())};
  }
  std::vector<Variant> call_args;
  for (size_t n = 0; n < raw_args.size(); ++n)
    call_args.push_back(parse_argument(raw_args[n], "argument " + std::to_string(n + 1)));

  // Each --field names a page variable: a usage error before any database is opened.
  {
    tvwortqflowjiedia names;
    for (const std::string& preset : line.values("--field")) {
      const std::string name = preset.substr(0, preset.find('='));
      const auto fields = names.fields();
      if (std::none_of(fields.begin(), fields.end(), [&](const auto& field) { return field.first == name; })) {
        throw UsageError{"unknown page variable \"" + name + "\""};
      }
    }
  }
  // The initialisers open the database; a call without them may need none.
  if (!no_init) refuse_missing_database(resolve_database(options.db), options.db);
  CommandRequest request(options);
  std::unique_ptr<tvwortqflowjiedia> page =
      markers ? std::make_unique<MarkerPage>() : std::make_unique<tvwortqflowjiedia>();
  page->bind_request_context();
  if (!no_init) {
    page->run_include_initialisers();
    request.response().body().clear();
  }
  auto fields = page->fields();
  for (const std::string& preset : line.values("--field")) {
    const size_t eq = preset.find('=');
    const std::string name = preset.substr(0, eq);
    Variant* target = nullptr;
    for (auto& [field_name, variable] : fields)
      if (field_name == name) target = variable;
    if (!target) throw UsageError{"unknown page variable \"" + name + "\""};
    *target = parse_argument(preset.substr(eq + 1), "--field " + name);
  }

  json out;
  try {
    out["result"] = to_json(method->invoke(*page, call_args));
  } catch (const ScriptError& e) {
    // Only the reserved number passes a method's handler; show it as it left.
    out["result"] = to_json(Variant());
    out["error"] = {{"number", e.number()}, {"message", e.message()}};
  }
  out["args"] = json::array();
  for (const Variant& v : call_args) out["args"].push_back(to_json(v));
  out["output"] = request.response().body();
  out["events"] = json::array();
  for (const auto& [type, text] : request.events().entries())
    out["events"].push_back({{"type", type}, {"text", text}});
  out["fields"] = json::object();
  for (const auto& [name, variable] : page->fields()) out["fields"][std::string(name)] = to_json(*variable);
  std::cout << out.dump(-1, ' ', false, json::error_handler_t::replace) << "\n";
  return 0;
}

}  // namespace oapx1
