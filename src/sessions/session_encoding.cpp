#include "sessions/session_encoding.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <exception>
#include <map>

#include "platform/text/ascii.h"

namespace oapx1 {

std::string encode_session(const MemorySession& state) {
  nlohmann::json items = nlohmann::json::array();
  for (const auto& [name, value] : state.items()) {
    nlohmann::json v;
    switch (value.type()) {
      case Variant::Type::kEmpty:
        v = {name, "e"};
        break;
      case Variant::Type::kNull:
        v = {name, "n"};
        break;
      case Variant::Type::kBoolean:
        v = {name, "b", value.boolean()};
        break;
      case Variant::Type::kInteger:
        v = {name, "i", value.integer()};
        break;
      case Variant::Type::kDouble:
        v = {name, "r", value.real()};
        break;
      case Variant::Type::kDate:
        v = {name, "d", value.date().serial};
        break;
      case Variant::Type::kText:
        v = {name, "t", value.text()};
        break;
      case Variant::Type::kObject:
        continue;  // an object lives in one process only
    }
    items.push_back(std::move(v));
  }
  const nlohmann::json doc = {{"codepage", state.code_page()}, {"items", std::move(items)}};
  // Texts are UTF-8 already; anything else is replaced rather than failing the save.
  return std::to_string(std::max(1, state.timeout())) + "\n" +
         doc.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

namespace {

// Sets one item of encode_session's list ([name, type, value]) in `state`;
// false for an item that is not one. Throws nlohmann's errors for a wrong shape.
bool decode_item(const nlohmann::json& v, MemorySession& state) {
  const std::string name = v.at(0).get<std::string>();
  const std::string type = v.at(1).get<std::string>();
  Variant value;
  if (type == "n") {
    value = Variant::null();
  } else if (type == "b") {
    value = Variant(v.at(2).get<bool>());
  } else if (type == "i") {
    value = Variant(v.at(2).get<long long>());
  } else if (type == "r") {
    value = Variant(v.at(2).get<double>());
  } else if (type == "d") {
    value = Variant(DateTime{v.at(2).get<double>()});
  } else if (type == "t") {
    value = Variant(v.at(2).get<std::string>());
  } else if (type != "e") {
    return false;
  }
  state.set_item(name, std::move(value));
  return true;
}

// The time-out minutes and the JSON document of encode_session's text.
bool split_session(std::string_view text, int& minutes, nlohmann::json& doc) {
  const size_t newline = text.find('\n');
  if (newline == std::string_view::npos) return false;
  minutes = std::stoi(std::string(text.substr(0, newline)));
  doc = nlohmann::json::parse(text.substr(newline + 1));
  return true;
}

}  // namespace

bool decode_session(std::string_view text, MemorySession& state) {
  try {
    int minutes = 0;
    nlohmann::json doc;
    if (!split_session(text, minutes, doc)) return false;
    state.set_timeout(minutes);
    state.set_code_page(doc.at("codepage").get<int>());
    for (const nlohmann::json& v : doc.at("items")) {
      if (!decode_item(v, state)) return false;
    }
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

std::optional<std::string> merge_session_change(std::string_view before, std::string_view mine,
                                                std::string_view current) {
  MemorySession merged;
  if (!decode_session(current, merged)) return std::nullopt;
  try {
    int before_minutes = 0, mine_minutes = 0;
    nlohmann::json before_doc, mine_doc;
    if (!split_session(before, before_minutes, before_doc) || !split_session(mine, mine_minutes, mine_doc)) {
      return std::nullopt;
    }
    // Item names compare without regard to letter case, as the session's own.
    std::map<std::string, const nlohmann::json*> had;
    for (const nlohmann::json& v : before_doc.at("items")) had[ascii_lower(v.at(0).get<std::string>())] = &v;
    for (const nlohmann::json& v : mine_doc.at("items")) {
      const auto it = had.find(ascii_lower(v.at(0).get<std::string>()));
      if (it != had.end() && *it->second == v) continue;  // not this request's change
      if (!decode_item(v, merged)) return std::nullopt;
    }
    if (mine_minutes != before_minutes) merged.set_timeout(mine_minutes);
    const int mine_code_page = mine_doc.at("codepage").get<int>();
    if (mine_code_page != before_doc.at("codepage").get<int>()) merged.set_code_page(mine_code_page);
  } catch (const std::exception&) {
    return std::nullopt;
  }
  return encode_session(merged);
}

}  // namespace oapx1
