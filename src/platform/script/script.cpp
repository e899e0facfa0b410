#include "platform/script/script.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace oapx1 {
namespace {

// Byte offset of the character at 0-based index `chars`, or s.size().
size_t byte_offset(std::string_view s, int64_t chars) {
  size_t pos = 0;
  while (chars > 0 && pos < s.size()) {
    utf8_next(s, pos);
    --chars;
  }
  return pos;
}

bool is_plain_number(std::string_view s, bool whole) {
  size_t pos = 0;
  if (pos < s.size() && (s[pos] == '-' || s[pos] == '+')) ++pos;
  size_t digits = 0;
  while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') ++pos, ++digits;
  if (!whole && pos < s.size() && s[pos] == '.') {
    ++pos;
    while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') ++pos, ++digits;
  }
  return digits > 0 && pos == s.size();
}

std::string checked_number(const Variant& v, bool whole) {
  if (v.is_number() && !v.is_empty()) {
    if (v.type() == Variant::Type::kBoolean) return v.boolean() ? "-1" : "0";
    std::string t = v.to_text();
    if (is_plain_number(t, whole)) return t;
  } else if (v.is_text()) {
    std::string t = vb::Trim(v.text());
    if (is_plain_number(t, whole)) return t;
  }
  throw ScriptError(err::kTypeMismatch,
                    whole ? "Type mismatch: a whole number is required" : "Type mismatch: a number is required");
}

}  // namespace

namespace vb {

int64_t Len(std::string_view s) {
  int64_t n = 0;
  for (size_t pos = 0; pos < s.size(); ++n) utf8_next(s, pos);
  return n;
}

std::string Left(std::string_view s, int64_t n) {
  if (n < 0) throw ScriptError(err::kInvalidCall, "Invalid procedure call or argument");
  return std::string(s.substr(0, byte_offset(s, n)));
}

std::string Right(std::string_view s, int64_t n) {
  if (n < 0) throw ScriptError(err::kInvalidCall, "Invalid procedure call or argument");
  const int64_t len = Len(s);
  if (n >= len) return std::string(s);
  return std::string(s.substr(byte_offset(s, len - n)));
}

std::string Mid(std::string_view s, int64_t start, std::optional<int64_t> length) {
  if (start < 1 || (length && *length < 0))
    throw ScriptError(err::kInvalidCall, "Invalid procedure call or argument");
  const size_t from = byte_offset(s, start - 1);
  std::string_view rest = s.substr(from);
  if (!length) return std::string(rest);
  return std::string(rest.substr(0, byte_offset(rest, *length)));
}

int64_t InStr(std::string_view s, std::string_view find, int64_t start) {
  if (start < 1) throw ScriptError(err::kInvalidCall, "Invalid procedure call or argument");
  const size_t from = byte_offset(s, start - 1);
  if (find.empty()) return start <= Len(s) + 1 ? start : 0;
  const size_t at = s.find(find, from);
  if (at == std::string_view::npos) return 0;
  return Len(s.substr(0, at)) + 1;
}

std::string Replace(std::string_view s, std::string_view find, std::string_view with) {
  if (find.empty()) return std::string(s);
  std::string out;
  out.reserve(s.size());
  size_t pos = 0;
  for (;;) {
    const size_t at = s.find(find, pos);
    if (at == std::string_view::npos) break;
    out.append(s.substr(pos, at - pos));
    out.append(with);
    pos = at + find.size();
  }
  out.append(s.substr(pos));
  return out;
}

std::vector<std::string> Split(std::string_view s, std::string_view delim) {
  std::vector<std::string> parts;
  if (s.empty()) return parts;
  if (delim.empty()) {
    parts.emplace_back(s);
    return parts;
  }
  size_t pos = 0;
  for (;;) {
    const size_t at = s.find(delim, pos);
    if (at == std::string_view::npos) break;
    parts.emplace_back(s.substr(pos, at - pos));
    pos = at + delim.size();
  }
  parts.emplace_back(s.substr(pos));
  return parts;
}

std::string LTrim(std::string_view s) {
  size_t b = 0;
  while (b < s.size() && s[b] == ' ') ++b;
  return std::string(s.substr(b));
}

std::string RTrim(std::string_view s) {
  size_t e = s.size();
  while (e > 0 && s[e - 1] == ' ') --e;
  return std::string(s.substr(0, e));
}

std::string Trim(std::string_view s) { return LTrim(RTrim(s)); }

std::string LCase(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string UCase(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

}  // namespace vb

namespace {

// Replaces & < > " (and ' when asked) by their entities.
std::string encode_markup(std::string_view s, bool apostrophe) {
  // The text is measured first so that the result is sized once and written
  // in place: a large text grown by reallocation would be copied and its
  // pages touched again.
  size_t added = 0;
  for (const char c : s) {
    const std::string_view entity = markup_entity(c, apostrophe);
    if (!entity.empty()) added += entity.size() - 1;
  }
  if (added == 0) return std::string(s);
  std::string out(s.size() + added, '\0');
  char* w = out.data();
  for (const char c : s) {
    const std::string_view entity = markup_entity(c, apostrophe);
    if (entity.empty()) {
      *w++ = c;
    } else {
      std::memcpy(w, entity.data(), entity.size());
      w += entity.size();
    }
  }
  return out;
}

}  // namespace

std::string html_encode(std::string_view s) { return encode_markup(s, true); }

std::string server_html_encode(std::string_view s) { return encode_markup(s, false); }

std::string script_string(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\'': out += "\\'"; break;
      case '"': out += "\\\""; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '<': out += "\\x3C"; break;
      default: out += c;
    }
  }
  return out;
}

std::string url_query_text(std::string_view s) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    const auto u = static_cast<unsigned char>(c);
    const bool keep = u >= 0x80 || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                      (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' || c == '~';
    if (keep) {
      out += c;
    } else {
      out += '%';
      out += kHex[u >> 4];
      out += kHex[u & 0xF];
    }
  }
  return out;
}

std::string sql_text(const Variant& v) { return vb::Replace(v.str(), "'", "''"); }

std::string sql_like_text(const Variant& v) {
  std::string escaped;
  for (char c : v.str()) {
    if (c == '\\' || c == '%' || c == '_') escaped += '\\';
    escaped += c;
  }
  return sql_text(Variant(escaped));
}

std::string sql_number(const Variant& v) { return checked_number(v, false); }

std::string sql_integer(const Variant& v) { return checked_number(v, true); }

}  // namespace oapx1
