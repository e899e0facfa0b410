// External e-mail through the mail components: one method per component,
// each handing the component its values in the component's own order. The
// mail server settings are the first row of SA_Smtp.
#include <string>
#include <vector>

#include "host/page.h"
#include "platform/data/recordset.h"
#include "platform/mail/mail_components.h"
#include "platform/script/script.h"
#include "platform/components/components.h"

namespace oapx1 {
namespace {

// The outgoing mail server settings: the first row of SA_Smtp.
struct SmtpSettings {
  Variant ip;           // SMTPIP
  Variant port;         // SMTPPort
  Variant username;     // EUsername
  Variant password;     // EPassword
  Variant address;      // EmailAddress: the sender address
  Variant sender_name;  // SenderName

  // "SMTPIP:SMTPPort", or SMTPIP alone when no port is set.
  std::string server() const {
    return port.str().empty() ? ip.str() : ip.str() + ":" + port.str();
  }
};

// Reads the settings; all empty when SA_Smtp has no row. Fails as the
// statement does (no connection, no table).
SmtpSettings read_smtp_settings(const Variant& conn) {
  SmtpSettings settings;
  Variant rs = CreateObject("adodb.recordset");
  Recordset& row = rs.as<Recordset>();
  row.Open("select * from SA_Smtp", conn, 1, 3);
  if (row.RecordCount() > 0) {
    settings.ip = row.field("SMTPIP");
    settings.port = row.field("SMTPPort");
    settings.username = row.field("EUsername");
    settings.password = row.field("EPassword");
    settings.address = row.field("EmailAddress");
    settings.sender_name = row.field("SenderName");
  }
  row.Close();
  return settings;
}

// The HTML flag read as a whole number: a truth value is -1 or 0, also as the
// texts "true" and "false" in any case; anything else converts as a number,
// failing with 13 (or 94 for null) when it is none.
int64_t whole_number_of_flag(const Variant& flag) {
  if (flag.type() == Variant::Type::kBoolean) return flag.boolean() ? -1 : 0;
  if (flag.is_text()) {
    const std::string t = vb::LCase(vb::Trim(flag.text()));
    if (t == "true") return -1;
    if (t == "false") return 0;
  }
  return flag.to_integer();
}

bool same_server(const std::string& given, const SmtpSettings& smtp) {
  const std::string server = vb::LCase(vb::Trim(given));
  return !server.empty() &&
         (server == vb::LCase(smtp.ip.str()) || server == vb::LCase(smtp.server()));
}

}  // namespace

void Page::sendemail(Variant& server, Variant& from, Variant& fromname, Variant& to,
                     Variant& /*toname*/, Variant& subject, Variant& body, Variant& html) {
  Variant mail;
  bool ready = false;
  report_and_leave(__func__, [&] {
    if (server.is_null() || script_equal(server, "")) return;
    mail = CreateObject("MyEmail.sendemail");
    MyEmailSender& m = mail.as<MyEmailSender>();
    m.SMTPIP = server.str();
    const bool text_true = vb::LCase(html.str()) == "true";
    const bool number_true = whole_number_of_flag(html) == -1;
    if (text_true || number_true) m.EmailHTML = true;
    m.EmailFrom = from.str();
    m.EmailFromName = fromname.str();
    m.EmailTo = to.str();
    m.EmailSubject = subject.str();
    m.EmailBody = body.str() + "\r\n";
    // The account of the configured server, and only for that server: its
    // password is not handed to a server the caller names.
    SmtpSettings smtp;
    step([&] { smtp = read_smtp_settings(conn); });
    const bool configured = same_server(m.SMTPIP, smtp);
    m.EmailUserName = configured ? smtp.username.str() : std::string();
    m.EmailPassWord = configured ? smtp.password.str() : std::string();
    ready = true;
  });
  if (!ready) return;
  // From the send on, nothing is reported: a mail that did not go is silent.
  step([&] { mail.as<MyEmailSender>().SendEmail(); });
  step([&] { mail = Variant(); });
}

void Page::mysendmail(Variant& subject, Variant& body, Variant& recipients) {
  Variant rs;
  Variant ip, port, username, password, address, sender_name;
  step([&] { rs = CreateObject("adodb.recordset"); });
  step([&] { rs.as<Recordset>().Open("select * from SA_Smtp", conn, 1, 3); });
  if (condition([&] { return rs.as<Recordset>().RecordCount() > 0; })) {
    step([&] { ip = rs.as<Recordset>().field("SMTPIP"); });
    step([&] { port = rs.as<Recordset>().field("SMTPPort"); });
    step([&] { username = rs.as<Recordset>().field("EUsername"); });
    step([&] { password = rs.as<Recordset>().field("EPassword"); });
    step([&] { address = rs.as<Recordset>().field("EmailAddress"); });
    step([&] { sender_name = rs.as<Recordset>().field("SenderName"); });
    Variant mail;
    step([&] { mail = CreateObject("JMail.Message"); });
    step([&] { mail.as<JMailMessage>().subject = subject.str(); });
    step([&] { mail.as<JMailMessage>().HTMLBody = body.str(); });
    step([&] { mail.as<JMailMessage>().Charset = "gb2312"; });
    step([&] { mail.as<JMailMessage>().FromName = sender_name.str(); });
    step([&] { mail.as<JMailMessage>().Priority = 1; });
    std::vector<std::string> pieces;
    step([&] { pieces = vb::Split(recipients.to_text(), ";"); });
    for (const std::string& piece : pieces) {
      if (piece.empty()) continue;
      step([&] { mail.as<JMailMessage>().AddRecipient(piece); });
    }
    step([&] { mail.as<JMailMessage>().From = address.str(); });
    step([&] { mail.as<JMailMessage>().MailServerUserName = username.str(); });
    step([&] { mail.as<JMailMessage>().MailServerPassword = password.str(); });
    step([&] { mail.as<JMailMessage>().Send(ip.str() + ":" + port.str()); });
    step([&] { mail.as<JMailMessage>().Close(); });
    step([&] { mail = Variant(); });
  }
  step([&] { rs.as<Recordset>().Close(); });
  step([&] { rs = Variant(); });
}

Variant Page::jmail(Variant& subject, Variant& body, Variant& recipient) {
  return reported(__func__, [&](Variant& result) {
    const SmtpSettings smtp = read_smtp_settings(conn);
    Variant mail = CreateObject("JMail.SMTPMail");
    JMailSMTPMail& m = mail.as<JMailSMTPMail>();
    m.Logging = true;
    m.Charset = "gb2312";
    m.ContentType = "text/html";
    m.ServerAddress = smtp.server();
    m.MailServerUserName = smtp.username.str();
    m.MailServerPassword = smtp.password.str();
    m.sender = smtp.address.str();
    m.subject = subject.str();
    m.Body = body.str();
    m.AddRecipient(recipient.str());
    m.Priority = 3;
    m.execute();
    result = "OK";
  });
}

Variant Page::cdonts(Variant& subject, Variant& body, Variant& recipient) {
  return reported(__func__, [&](Variant& result) {
    const SmtpSettings smtp = read_smtp_settings(conn);
    Variant mail = CreateObject("CDONTS.NewMail");
    CdontsNewMail& m = mail.as<CdontsNewMail>();
    m.MailServer = smtp.server();
    m.MailServerUserName = smtp.username.str();
    m.MailServerPassword = smtp.password.str();
    m.From = smtp.address.str();
    m.to = recipient.str();
    m.subject = subject.str();
    m.BodyFormat = 0;
    m.MailFormat = 0;
    m.Body = body.str();
    m.Send();
    result = "OK";
  });
}

Variant Page::aspemail(Variant& subject, Variant& body, Variant& recipient) {
  return reported(__func__, [&](Variant& result) {
    const SmtpSettings smtp = read_smtp_settings(conn);
    Variant mail = CreateObject("ASPMAIL.ASPMailCtrl.1");
    AspMailCtrl& m = mail.as<AspMailCtrl>();
    m.MailServerUserName = smtp.username.str();
    m.MailServerPassword = smtp.password.str();
    // The message goes with the body its caller gave.
    const Variant server = smtp.server();
    m.SendMail(server, recipient, smtp.address, subject, body);
    result = "OK";
  });
}

}  // namespace oapx1
