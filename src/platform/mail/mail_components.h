// The mail components the page creates by class id, one object per message.
// Each keeps the properties and methods its pages use, under their names, and
// delivers over SMTP (smtp.h). Texts are UTF-8; a component sends them in its
// charset (gb2312 unless it has a Charset property that says otherwise). A
// send operation fails as send_mail does: a refused or unreachable server is a
// failure of that call, never a silent loss.
//
// Where the original component took its server or account from the machine
// (CDONTS from the local mail service, the others from their own settings),
// the stand-in has the settable properties MailServer, MailServerUserName and
// MailServerPassword, which the page fills from its mail server settings.
#ifndef OAPX1_PLATFORM_MAIL_MAIL_COMPONENTS_H_
#define OAPX1_PLATFORM_MAIL_MAIL_COMPONENTS_H_

#include <string>
#include <string_view>
#include <vector>

#include "platform/script/variant.h"

namespace oapx1 {

// "MyEmail.sendemail": one message from properties, sent by SendEmail.
class MyEmailSender : public Object {
 public:
  std::string SMTPIP;         // server, "host" or "host:port"
  bool EmailHTML = false;     // the body is HTML, else plain text
  std::string EmailFrom;      // sender address
  std::string EmailFromName;  // sender display name
  std::string EmailTo;        // recipient addresses, separated by ";" or ","
  std::string EmailSubject;
  std::string EmailBody;
  std::string EmailUserName;  // account on the server; empty: no log-on
  std::string EmailPassWord;

  // Sends the message to SMTPIP; true when it was accepted. Fails as send_mail
  // (and with 5 for an invalid server).
  bool SendEmail();
};

// "JMail.Message": a message with its recipients added one by one, sent to the
// server named in the call.
class JMailMessage : public Object {
 public:
  std::string subject;
  std::string HTMLBody;             // the body, sent as HTML
  std::string Charset = "gb2312";
  std::string FromName;             // sender display name
  int Priority = 0;                 // 1 (highest) .. 5; 0: not set
  std::string From;                 // sender address
  std::string MailServerUserName;   // account on the server; empty: no log-on
  std::string MailServerPassword;

  // Adds one recipient address (a list separated by ";" or "," adds each).
  void AddRecipient(std::string_view address);
  // Sends to "host:port" (or "host"); fails as send_mail, and with 5 when
  // the message was closed.
  void Send(std::string_view server);
  // Ends the message; it cannot be sent any more.
  void Close();

 private:
  std::vector<std::string> recipients_;  // addresses added so far
  bool closed_ = false;                  // Close was called
};

// "JMail.SMTPMail": a message with its server as a property, sent by execute.
class JMailSMTPMail : public Object {
 public:
  bool Logging = false;                   // accepted; the stand-in keeps no log
  std::string Charset = "gb2312";
  std::string ContentType = "text/plain"; // "text/html" sends the body as HTML
  std::string ServerAddress;              // "host:port" or "host"
  std::string MailServerUserName;         // account on the server; empty: no log-on
  std::string MailServerPassword;
  std::string sender;                     // sender address
  std::string subject;
  std::string Body;
  int Priority = 0;                       // 1 (highest) .. 5; 0: not set

  // Adds one recipient address (a list separated by ";" or "," adds each).
  void AddRecipient(std::string_view address);
  // Sends the message; true when it was accepted. Fails as send_mail.
  bool execute();

 private:
  std::vector<std::string> recipients_;  // addresses added so far
};

// "CDONTS.NewMail": a message from properties, sent by Send. BodyFormat 0 is
// HTML, 1 plain text; MailFormat 0 is MIME (the only form the stand-in sends).
class CdontsNewMail : public Object {
 public:
  std::string MailServer;          // "host:port" or "host": the mail service's server
  std::string MailServerUserName;  // its account; empty: no log-on
  std::string MailServerPassword;
  std::string From;                // sender address
  std::string to;                  // recipient addresses, separated by ";" or ","
  std::string subject;
  int BodyFormat = 1;
  int MailFormat = 1;
  std::string Body;

  // Sends the message; fails as send_mail.
  void Send();
};

// "ASPMAIL.ASPMailCtrl.1": one call sends one plain-text message.
class AspMailCtrl : public Object {
 public:
  std::string MailServerUserName;  // account on the server; empty: no log-on
  std::string MailServerPassword;

  // Sends `message` from `from_address` to `to` (addresses separated by ";"
  // or ",") through `server` ("host:port" or "host"); returns "" when it was
  // accepted. Fails as send_mail.
  std::string SendMail(const Variant& server, const Variant& to, const Variant& from_address,
                       const Variant& subject, const Variant& message);
};

}  // namespace oapx1

#endif  // OAPX1_PLATFORM_MAIL_MAIL_COMPONENTS_H_
