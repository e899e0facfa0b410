// Input sanitising and validation: characters unsafe in SQL and HTML removed,
// apostrophes quoted, e-mail addresses checked, digit-only numbers read, the
// inline conditional, random keys and unique identifiers.
#include <cmath>
#include <cstdlib>
#include <string>

#include "host/page.h"
#include "platform/components/components.h"
#include "platform/script/script.h"
#include "platform/files/type_lib.h"

namespace oapx1 {
namespace {

// The 62 characters of a random key: digits, upper-case, then lower-case letters.
constexpr std::string_view kKeyCharacters =
    "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

// The address rules of isvalidemail; true when every one holds.
bool email_valid(std::string_view address) {
  const std::vector<std::string> pieces = vb::Split(address, "@");
  if (pieces.size() != 2) return false;
  for (const std::string& piece : pieces) {
    if (piece.empty()) return false;
    for (char ch : vb::LCase(piece)) {
      const bool allowed = (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9') || ch == '_' ||
                           ch == '-' || ch == '.';
      if (!allowed) return false;
    }
    if (piece.front() == '.' || piece.back() == '.') return false;
  }
  const std::string& domain = pieces[1];
  const size_t dot = domain.rfind('.');
  if (dot == std::string::npos) return false;
  const size_t last_label = domain.size() - dot - 1;
  if (last_label != 2 && last_label != 3) return false;
  return address.find("..") == std::string_view::npos;
}

}  // namespace

Variant Page::replacebadchar(Variant& text) {
  return reported(__func__, [&](Variant& result) {
    if (text.is_null() || script_equal(text, "")) {
      result = "";
      return;
    }
    static const std::string kBad = std::string("',%,^,&,?,(,),<,>,[,],/,\\,;,\",") + '\0';
    std::string out = text.to_text();
    for (const std::string& bad : vb::Split(kBad, ",")) out = vb::Replace(out, bad, "");
    result = std::move(out);
  });
}

Variant Page::checkstring(Variant& text, Variant& /*a2*/, Variant& /*a3*/, Variant& /*a4*/) {
  return reported(__func__, [&](Variant& result) {
    result = text.is_null() ? std::string() : sql_text(text.to_text());
  });
}

Variant Page::isvalidemail(Variant& email) {
  return reported(__func__, [&](Variant& result) {
    result = true;
    // A missing address is no address: false, and no failure to report.
    result = !email.is_null() && email_valid(email.to_text());
  });
}

Variant Page::to_number(Variant& text) {
  return reported(__func__, [&](Variant& result) {
    if (text.is_null()) {
      result = 0;
      return;
    }
    text = vb::Trim(text.to_text());
    const std::string& t = text.text();
    if (t.empty()) {
      result = 0;
      return;
    }
    // Walks the characters with the page's shared counter, as the page's loops do.
    int64_t position = 1;
    for (size_t pos = 0; pos < t.size(); ++position) {
      i = position;
      const char32_t ch = utf8_next(t, pos);
      if (ch < U'0' || ch > U'9') {
        result = 0;
        return;
      }
    }
    i = position;
    // Up to 18 digits fit a whole number; longer texts read as a double.
    const size_t digits =
        t.find_first_not_of('0') == std::string::npos ? 1 : t.size() - t.find_first_not_of('0');
    if (digits <= 18) {
      result = static_cast<long long>(std::stoll(t));
    } else {
      const double d = std::strtod(t.c_str(), nullptr);
      if (!std::isfinite(d)) throw ScriptError(err::kOverflow, "Overflow");
      result = d;
    }
  });
}

Variant Page::iif(Variant& condition, Variant& if_true, Variant& if_false) {
  return reported(__func__, [&](Variant& result) {
    const bool chosen = !condition.is_null() && condition.to_bool();
    result = chosen ? if_true : if_false;
  });
}

Variant Page::gernd(Variant& length) {
  return reported(__func__, [&](Variant& result) {
    if (length.is_null()) return;
    const double wanted = length.to_double();
    if (!(wanted > 0)) return;
    // The platform's texts hold at most 2^31 - 1 characters.
    if (wanted > 2147483647.0) throw ScriptError(err::kOverflow, "Overflow");
    const auto count = static_cast<size_t>(std::ceil(wanted));
    std::string key;
    key.reserve(count);
    while (key.size() < count)
      key += kKeyCharacters[secure_random_below(static_cast<uint32_t>(kKeyCharacters.size()))];
    result = std::move(key);
  });
}

Variant Page::getuid() {
  return reported(__func__, [&](Variant& result) {
    Variant typelib = CreateObject("Scriptlet.TypeLib");
    std::string guid = typelib.as<TypeLib>().Guid();
    guid = vb::Replace(guid, "{", "");
    guid = vb::Replace(guid, "}", "");
    guid = vb::Replace(guid, "-", "");
    result = std::move(guid);
  });
}

}  // namespace oapx1
