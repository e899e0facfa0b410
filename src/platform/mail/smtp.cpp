#include "platform/mail/smtp.h"

#include <curl/curl.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include "platform/files/type_lib.h"
#include "platform/script/script.h"
#include "platform/text/ascii.h"
#include "platform/text/codepage.h"
#include "platform/process/process.h"

namespace oapx1 {
namespace {


[[noreturn]] void invalid(const std::string& what) {
  throw ScriptError(err::kInvalidCall, "Invalid procedure call or argument: " + what);
}

// The text without blanks and line breaks at either end.
std::string trim_text(std::string_view s) { return std::string(trim(s, " \t\r\n")); }

std::string base64(std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const uint32_t n = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16 |
                       static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8 |
                       static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[n >> 18];
    out += kAlphabet[(n >> 12) & 63];
    out += kAlphabet[(n >> 6) & 63];
    out += kAlphabet[n & 63];
  }
  if (i < bytes.size()) {
    uint32_t n = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
    if (i + 1 < bytes.size()) n |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
    out += kAlphabet[n >> 18];
    out += kAlphabet[(n >> 12) & 63];
    out += i + 1 < bytes.size() ? kAlphabet[(n >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

// How a text goes on the wire: the charset label and the encoder for it.
struct Encoding {
  std::string label;  // "GB2312", "GBK", "GB18030" or "UTF-8"
  bool gbk = false;   // encode with the code page 936 converter, else as UTF-8
  std::string encode(std::string_view utf8) const {
    return gbk ? utf8_to_gbk(utf8) : std::string(utf8);
  }
};

// True when every double-byte character of a GBK text lies in the GB2312 rows.
bool within_gb2312(std::string_view gbk) {
  for (size_t i = 0; i < gbk.size(); ++i) {
    const auto lead = static_cast<unsigned char>(gbk[i]);
    if (lead < 0x80) continue;
    if (i + 1 >= gbk.size()) return false;
    const auto trail = static_cast<unsigned char>(gbk[++i]);
    if (lead < 0xA1 || lead > 0xF7 || trail < 0xA1 || trail > 0xFE) return false;
  }
  return true;
}

// The encoding of one text in the charset asked for. The Chinese charsets are
// written in GBK, the superset of GB2312 that the code page converter knows;
// a text GBK cannot carry whole goes as UTF-8 instead, as does any charset
// other than the Chinese ones and UTF-8 itself.
Encoding encoding_for(std::string_view utf8, std::string_view charset) {
  const std::string asked = ascii_lower(trim(charset, " \t\r\n"));
  const bool chinese = asked.empty() || asked == "gb2312" || asked == "gbk" || asked == "x-gbk" ||
                       asked == "cp936" || asked == "gb18030";
  if (!chinese) return {"UTF-8", false};
  const std::string gbk = utf8_to_gbk(utf8);
  if (gb18030_to_utf8(gbk) != utf8) return {"UTF-8", false};
  if (asked == "gb18030") return {"GB18030", true};
  if ((asked.empty() || asked == "gb2312") && within_gb2312(gbk)) return {"GB2312", true};
  return {"GBK", true};
}

bool plain_ascii(std::string_view s, std::string_view allowed_punctuation) {
  for (char c : s) {
    const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!alnum && c != ' ' && allowed_punctuation.find(c) == std::string_view::npos) return false;
  }
  return true;
}

// A header text as RFC 2047 encoded words ("=?GB2312?B?...?="), each within
// the 75 characters a word may have and never splitting a character, folded
// onto continuation lines.
std::string encoded_words(std::string_view utf8, std::string_view charset) {
  const Encoding enc = encoding_for(utf8, charset);
  constexpr size_t kMaxBytes = 42;  // 56 base64 characters plus the 12 around them
  std::string out;
  std::string word;
  auto flush = [&] {
    if (word.empty()) return;
    if (!out.empty()) out += "\r\n ";
    out += "=?" + enc.label + "?B?" + base64(word) + "?=";
    word.clear();
  };
  for (size_t pos = 0; pos < utf8.size();) {
    const size_t start = pos;
    utf8_next(utf8, pos);
    const std::string bytes = enc.encode(utf8.substr(start, pos - start));
    if (word.size() + bytes.size() > kMaxBytes) flush();
    word += bytes;
  }
  flush();
  return out;
}

// A subject as it stands when it is short printable ASCII, else encoded words.
std::string header_text(std::string_view utf8, std::string_view charset) {
  bool plain = utf8.size() <= 200 && utf8.find("=?") == std::string_view::npos;
  for (char c : utf8)
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) plain = false;
  return plain ? std::string(utf8) : encoded_words(utf8, charset);
}

void check_address(std::string_view address) {
  for (char c : address) {
    const auto b = static_cast<unsigned char>(c);
    if (b <= 0x20 || b == 0x7F || c == '<' || c == '>')
      invalid("the mail address \"" + std::string(address) + "\" is not valid");
  }
}

std::string rfc5322_date() {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const time_t now = time(nullptr);
  struct tm t {};
  localtime_r(&now, &t);
  const long offset = t.tm_gmtoff / 60;
  char text[64];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld",
                kDays[t.tm_wday], t.tm_mday, kMonths[t.tm_mon], t.tm_year + 1900, t.tm_hour,
                t.tm_min, t.tm_sec, offset < 0 ? '-' : '+', std::labs(offset) / 60,
                std::labs(offset) % 60);
  return text;
}

std::string message_id(std::string_view from_address) {
  unsigned char random[16];
  secure_random_bytes(random, sizeof random);
  std::string id;
  char hex[3];
  for (unsigned char b : random) {
    std::snprintf(hex, sizeof hex, "%02x", b);
    id += hex;
  }
  const size_t at = from_address.rfind('@');
  const std::string domain =
      at == std::string_view::npos || at + 1 == from_address.size()
          ? std::string("localhost")
          : std::string(from_address.substr(at + 1));
  return "<" + id + "@" + domain + ">";
}

struct Upload {
  const std::string* data;
  size_t pos = 0;
};

size_t read_upload(char* buffer, size_t size, size_t count, void* user) {
  auto* upload = static_cast<Upload*>(user);
  const size_t n = std::min(size * count, upload->data->size() - upload->pos);
  std::memcpy(buffer, upload->data->data() + upload->pos, n);
  upload->pos += n;
  return n;
}

}  // namespace

MailServer parse_mail_server(std::string_view address) {
  const std::string text = trim_text(address);
  MailServer server;
  std::string port;
  if (!text.empty() && text.front() == '[') {
    const size_t close = text.find(']');
    if (close == std::string::npos) invalid("the mail server \"" + text + "\" is not valid");
    server.host = text.substr(1, close - 1);
    const std::string rest = text.substr(close + 1);
    if (!rest.empty() && rest.front() != ':') invalid("the mail server \"" + text + "\" is not valid");
    if (!rest.empty()) port = rest.substr(1);
  } else if (const size_t colon = text.rfind(':');
             colon != std::string::npos && text.find(':') == colon) {
    server.host = text.substr(0, colon);
    port = text.substr(colon + 1);
  } else {
    server.host = text;  // a name, or an IPv6 address without a port
  }
  if (server.host.empty()) invalid("no mail server is given");
  for (char c : server.host) {
    const auto b = static_cast<unsigned char>(c);
    if (b <= 0x20 || b == 0x7F || std::strchr("/?#@[]\\", c))
      invalid("the mail server \"" + text + "\" is not valid");
  }
  port = trim_text(port);
  if (!port.empty()) {
    if (port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(port) < 1 || std::stoi(port) > 65535)
      invalid("the mail server port \"" + port + "\" is not valid");
    server.port = std::stoi(port);
  }
  return server;
}

std::vector<std::string> split_addresses(std::string_view list) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find_first_of(";,", start);
    if (end == std::string_view::npos) end = list.size();
    std::string piece = trim_text(list.substr(start, end - start));
    // "Name <address>": the address runs from the first "<" to the ">" that
    // ends the piece, so an angle bracket anywhere else stays in the address
    // and makes it invalid rather than choosing a recipient of its own.
    const size_t open = piece.find('<');
    if (open != std::string::npos && piece.size() > open + 1 && piece.back() == '>')
      piece = trim_text(std::string_view(piece).substr(open + 1, piece.size() - open - 2));
    if (!piece.empty()) out.push_back(std::move(piece));
    start = end + 1;
  }
  return out;
}

std::string compose_mime(const OutgoingMail& mail) {
  check_address(mail.from_address);
  for (const std::string& to : mail.recipients) check_address(to);

  std::string from = mail.from_address.empty() ? "<>" : mail.from_address;
  if (!mail.from_name.empty())
    from = (plain_ascii(mail.from_name, ".-_") ? mail.from_name
                                                : encoded_words(mail.from_name, mail.charset)) +
           " <" + mail.from_address + ">";
  std::string to;
  for (const std::string& r : mail.recipients) to += (to.empty() ? "" : ",\r\n ") + r;

  const Encoding body_encoding = encoding_for(mail.body, mail.charset);
  std::string m;
  m += "Date: " + rfc5322_date() + "\r\n";
  m += "From: " + from + "\r\n";
  m += "To: " + to + "\r\n";
  m += "Subject: " + header_text(mail.subject, mail.charset) + "\r\n";
  m += "Message-ID: " + message_id(mail.from_address) + "\r\n";
  if (mail.priority >= 1 && mail.priority <= 5)
    m += "X-Priority: " + std::to_string(mail.priority) + "\r\n";
  m += "MIME-Version: 1.0\r\n";
  m += std::string("Content-Type: ") + (mail.html ? "text/html" : "text/plain") + "; charset=\"" +
       body_encoding.label + "\"\r\n";
  m += "Content-Transfer-Encoding: base64\r\n\r\n";
  const std::string encoded = base64(body_encoding.encode(mail.body));
  for (size_t i = 0; i < encoded.size(); i += 76) m += encoded.substr(i, 76) + "\r\n";
  return m;
}

void send_mail(const MailServer& server, const OutgoingMail& mail) {
  if (mail.recipients.empty()) invalid("the mail has no recipient");
  const std::string message = compose_mime(mail);

  static std::once_flag global_init;
  std::call_once(global_init, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  std::unique_ptr<CURL, void (*)(CURL*)> curl(curl_easy_init(), curl_easy_cleanup);
  if (!curl) throw ScriptError(err::kOutOfMemory, "Out of memory");
  curl_slist* rcpt = nullptr;
  for (const std::string& r : mail.recipients) rcpt = curl_slist_append(rcpt, ("<" + r + ">").c_str());
  std::unique_ptr<curl_slist, void (*)(curl_slist*)> rcpt_list(rcpt, curl_slist_free_all);

  const std::string host =
      server.host.find(':') != std::string::npos ? "[" + server.host + "]" : server.host;
  const std::string url = "smtp://" + host + ":" + std::to_string(server.port);
  const std::string from = "<" + mail.from_address + ">";
  Upload upload{&message};
  char error[CURL_ERROR_SIZE] = "";
  CURL* c = curl.get();
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "smtp");
  curl_easy_setopt(c, CURLOPT_MAIL_FROM, from.c_str());
  curl_easy_setopt(c, CURLOPT_MAIL_RCPT, rcpt_list.get());
  curl_easy_setopt(c, CURLOPT_READFUNCTION, read_upload);
  curl_easy_setopt(c, CURLOPT_READDATA, &upload);
  curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(c, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(message.size()));
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  const auto settings = process_settings();
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(settings->smtp_connect_ms));
  curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(settings->smtp_total_ms));
  // STARTTLS when the server offers it; plain otherwise, as mail servers
  // inside an organisation often are.
  curl_easy_setopt(c, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_TRY));
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, error);
  if (!server.username.empty()) {
    curl_easy_setopt(c, CURLOPT_USERNAME, server.username.c_str());
    curl_easy_setopt(c, CURLOPT_PASSWORD, server.password.c_str());
  }

  const CURLcode rc = curl_easy_perform(c);
  if (rc == CURLE_OK) return;
  const std::string detail = *error ? error : curl_easy_strerror(rc);
  long reply = 0;
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &reply);
  const bool unreached = rc == CURLE_COULDNT_RESOLVE_HOST || rc == CURLE_COULDNT_CONNECT ||
                         (rc == CURLE_OPERATION_TIMEDOUT && reply == 0);
  if (unreached)
    throw ScriptError(err::kMailConnect, "The transport failed to connect to the server " +
                                              server.host + ":" + std::to_string(server.port) +
                                              " (" + detail + ")");
  throw ScriptError(err::kMailSend,
                    "The message could not be sent to the SMTP server " + server.host + ":" +
                        std::to_string(server.port) + " (" + detail +
                        (reply ? ", reply " + std::to_string(reply) : std::string()) + ")");
}

void set_smtp_timeouts(std::chrono::milliseconds connect, std::chrono::milliseconds total) {
  update_process_settings([&](ProcessSettings& s) {
    s.smtp_connect_ms = connect.count();
    s.smtp_total_ms = total.count();
  });
}

}  // namespace oapx1
