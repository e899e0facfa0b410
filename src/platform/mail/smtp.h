// Outgoing e-mail over SMTP: the one place that composes a MIME message and
// hands it to a mail server. The mail components (mail_components.h) build an
// OutgoingMail from their properties and send it here.
#ifndef OAPX1_PLATFORM_MAIL_SMTP_H_
#define OAPX1_PLATFORM_MAIL_SMTP_H_

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace oapx1 {

// Where a message goes, and the account to log on with (none when the user
// name is empty).
struct MailServer {
  std::string host;      // name or address; an IPv6 address without brackets
  int port = 25;         // SMTP port
  std::string username;  // account on the server; empty: no log-on
  std::string password;  // its password
};

// Reads "host", "host:port" or "[v6-address]:port"; an empty or missing port
// is 25. Fails with 5 for an empty host or a port that is not 1..65535.
MailServer parse_mail_server(std::string_view address);

// One message. Texts are UTF-8; they are sent in `charset`.
struct OutgoingMail {
  std::string from_address;            // envelope sender and From address
  std::string from_name;               // display name of the sender; may be empty
  std::vector<std::string> recipients; // addresses, each one envelope recipient
  std::string subject;
  std::string body;
  bool html = false;                   // text/html, else text/plain
  std::string charset = "gb2312";      // charset asked for subject, name and body
  int priority = 0;                    // X-Priority 1 (highest) .. 5; 0: no header
};

// The addresses of a recipient list: pieces separated by ";" or ",", trimmed,
// empty pieces dropped; "Name <address>" gives the address, the text from the
// first "<" to the ">" that ends the piece. Other angle brackets stay in the
// address ("x<y>@example.com" as it is), which compose_mime then refuses.
std::vector<std::string> split_addresses(std::string_view list);

// The message as it goes on the wire: headers (Date, From, To, Subject,
// Message-ID, MIME-Version, Content-Type, Content-Transfer-Encoding and
// X-Priority when set), a blank line and the body in base64, lines ending in
// CR LF. The subject and the sender's name are RFC 2047 encoded words when they
// are not plain ASCII. Texts are encoded in the charset asked for; a gb2312
// text holding characters beyond GB2312 is labelled GBK, and one holding
// characters GBK lacks goes as UTF-8, so no character is lost.
// Fails with 5 for an address holding a line break, a control character, a
// space or angle brackets (it would change the message or the SMTP dialogue).
std::string compose_mime(const OutgoingMail& mail);

// Sends the message. Fails with -2147220973 when the server cannot be reached
// in time, with -2147220975 when the server refuses the log-on, the sender, a
// recipient or the message or does not answer in time, and with 5 for a message
// without recipients or with an invalid address; the message names the cause.
void send_mail(const MailServer& server, const OutgoingMail& mail);

// Time allowed to connect to a server and for the whole delivery. Process-wide;
// until set: 10 s and 60 s.
void set_smtp_timeouts(std::chrono::milliseconds connect, std::chrono::milliseconds total);

}  // namespace oapx1

#endif  // OAPX1_PLATFORM_MAIL_SMTP_H_
