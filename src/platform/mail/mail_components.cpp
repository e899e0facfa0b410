#include "platform/mail/mail_components.h"

#include "platform/mail/smtp.h"
#include "platform/text/ascii.h"

namespace oapx1 {
namespace {

MailServer server_of(std::string_view address, const std::string& username,
                     const std::string& password) {
  MailServer server = parse_mail_server(address);
  server.username = username;
  server.password = password;
  return server;
}

void add_recipients(std::vector<std::string>& recipients, std::string_view list) {
  for (std::string& address : split_addresses(list)) recipients.push_back(std::move(address));
}

}  // namespace

bool MyEmailSender::SendEmail() {
  OutgoingMail mail;
  mail.from_address = EmailFrom;
  mail.from_name = EmailFromName;
  mail.recipients = split_addresses(EmailTo);
  mail.subject = EmailSubject;
  mail.body = EmailBody;
  mail.html = EmailHTML;
  send_mail(server_of(SMTPIP, EmailUserName, EmailPassWord), mail);
  return true;
}

void JMailMessage::AddRecipient(std::string_view address) { add_recipients(recipients_, address); }

void JMailMessage::Send(std::string_view server) {
  if (closed_)
    throw ScriptError(err::kInvalidCall, "Invalid procedure call or argument: the message is closed");
  OutgoingMail mail;
  mail.from_address = From;
  mail.from_name = FromName;
  mail.recipients = recipients_;
  mail.subject = subject;
  mail.body = HTMLBody;
  mail.html = true;
  mail.charset = Charset;
  mail.priority = Priority;
  send_mail(server_of(server, MailServerUserName, MailServerPassword), mail);
}

void JMailMessage::Close() {
  closed_ = true;
  recipients_.clear();
}

void JMailSMTPMail::AddRecipient(std::string_view address) { add_recipients(recipients_, address); }

bool JMailSMTPMail::execute() {
  OutgoingMail mail;
  mail.from_address = sender;
  mail.recipients = recipients_;
  mail.subject = subject;
  mail.body = Body;
  mail.html = ascii_lower(ContentType).find("html") != std::string::npos;
  mail.charset = Charset;
  mail.priority = Priority;
  send_mail(server_of(ServerAddress, MailServerUserName, MailServerPassword), mail);
  return true;
}

void CdontsNewMail::Send() {
  OutgoingMail mail;
  mail.from_address = From;
  mail.recipients = split_addresses(to);
  mail.subject = subject;
  mail.body = Body;
  mail.html = BodyFormat == 0;
  send_mail(server_of(MailServer, MailServerUserName, MailServerPassword), mail);
}

std::string AspMailCtrl::SendMail(const Variant& server, const Variant& to,
                                  const Variant& from_address, const Variant& subject,
                                  const Variant& message) {
  OutgoingMail mail;
  mail.from_address = from_address.str();
  mail.recipients = split_addresses(to.str());
  mail.subject = subject.str();
  mail.body = message.str();
  send_mail(server_of(server.str(), MailServerUserName, MailServerPassword), mail);
  return "";
}

}  // namespace oapx1
