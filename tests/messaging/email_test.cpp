// E-mail through the five mail components, delivered to a test mail server on
// a loopback port (tests/messaging/smtp_sink.py, which needs Debian's
// python3-aiosmtpd; without it these tests are skipped).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/mail/mail_components.h"
#include "platform/mail/smtp.h"
#include "platform/components/components.h"
#include "support/page_fixture.h"
#include "support/smtp_sink.h"

extern char** environ;

namespace oapx1::testing {
namespace {

using nlohmann::json;

// A loopback port nothing listens on: connecting to it is refused.
int closed_port() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t size = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size);
  close(fd);
  return ntohs(addr.sin_port);
}

// A loopback listener that accepts connections but never says a word.
class SilentServer {
 public:
  SilentServer() : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    listen(fd_, 16);
    socklen_t size = sizeof addr;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &size);
    port_ = ntohs(addr.sin_port);
  }
  ~SilentServer() { close(fd_); }
  int port() const { return port_; }

 private:
  int fd_;
  int port_ = 0;
};

class Email : public PageFixture<> {
 protected:
  static void SetUpTestSuite() {
    dir_ = ::testing::TempDir() + "oapx1_smtp_sink_" + std::to_string(getpid()) + ".jsonl";
    sink_ = std::make_unique<SmtpSink>(dir_);
  }
  static void TearDownTestSuite() {
    sink_.reset();
    std::remove(dir_.c_str());
  }
  void SetUp() override {
    if (sink_->port() == 0) GTEST_SKIP() << "python3-aiosmtpd is not installed";
    sink_->clear();
    set_smtp_server(sink_->port());
    connect();
  }

  // The mail server settings, pointing at a loopback port.
  void set_smtp_server(int port) {
    db.exec("delete from SA_Smtp; insert into SA_Smtp (SMTPIP, SMTPPort, EUsername, EPassword, "
            "EmailAddress, SenderName) values ('127.0.0.1', " +
            std::to_string(port) + ", '', '', 'oa@example.com', 'OA系统')");
  }
  std::string server() const { return "127.0.0.1:" + std::to_string(sink_->port()); }
  std::vector<json> received() const { return sink_->received(); }

  // Sends subject and body to the recipient through one of the methods;
  // returns its result.
  Variant send(const std::string& method, const std::string& subject, const std::string& body,
               const std::string& to) {
    Variant s = subject, b = body, r = to;
    if (method == "jmail") return page->jmail(s, b, r);
    if (method == "cdonts") return page->cdonts(s, b, r);
    if (method == "aspemail") return page->aspemail(s, b, r);
    if (method == "mysendmail") {
      page->mysendmail(s, b, r);
    } else {
      Variant srv = server(), from = "boss@example.com", name = "王经理", to_name = "某人",
              html = true;
      page->sendemail(srv, from, name, r, to_name, s, b, html);
    }
    return Variant();
  }

  static inline std::string dir_;                // the sink's output file
  static inline std::unique_ptr<SmtpSink> sink_;  // the test mail server
};

TEST_F(Email, each_method_delivers_to_its_recipients_in_its_format) {
  const std::string subject = "周会通知：it's 第3次";
  const std::string body = "<p>请于周五 9:00 到会议室。</p>";
  struct Case {
    const char* method;
    const char* to;
    const char* result;
    const char* mail_from;
    json rcpt_tos;
    const char* from;
    const char* content_type;
    std::string body;
    const char* priority;
  } cases[] = {
      {"sendemail", "r1@example.com", "empty", "boss@example.com", {"r1@example.com"}, "王经理 <boss@example.com>",
       "text/html", body + "\r\n", ""},
      {"mysendmail", "r1@example.com;;r2@example.com;", "empty", "oa@example.com", {"r1@example.com", "r2@example.com"},
       "OA系统 <oa@example.com>", "text/html", body, "1"},
      {"jmail", "r1@example.com", "text:OK", "oa@example.com", {"r1@example.com"}, "oa@example.com", "text/html", body,
       "3"},
      {"cdonts", "r1@example.com", "text:OK", "oa@example.com", {"r1@example.com"}, "oa@example.com", "text/html",
       body, ""},
      {"aspemail", "r1@example.com", "text:OK", "oa@example.com", {"r1@example.com"}, "oa@example.com", "text/plain",
       body, ""},
  };
  for (const Case& c : cases) {
    sink_->clear();
    EXPECT_EQ(describe(send(c.method, subject, body, c.to)), c.result) << c.method;
    EXPECT_EQ(output(), "") << c.method;
    const std::vector<json> mails = received();
    ASSERT_EQ(mails.size(), 1u) << c.method;
    const json& m = mails[0];
    EXPECT_EQ(m["mail_from"], c.mail_from) << c.method;
    EXPECT_EQ(m["rcpt_tos"], c.rcpt_tos) << c.method;
    EXPECT_EQ(m["from"], c.from) << c.method;
    EXPECT_EQ(m["subject"], subject) << c.method;
    EXPECT_EQ(m["content_type"], c.content_type) << c.method;
    EXPECT_EQ(m["charset"], "gb2312") << c.method;
    EXPECT_EQ(m["body"], c.body) << c.method;
    EXPECT_EQ(m["priority"], c.priority) << c.method;
  }
  EXPECT_TRUE(events().empty());
}

TEST_F(Email, texts_arrive_intact_in_the_narrowest_charset_that_holds_them) {
  struct Case {
    std::string text;
    const char* charset;
  } cases[] = {
      {"Weekly report", "gb2312"},
      {"关于二零二六年第二季度各部门预算执行情况与下半年工作安排的通知（请各部门负责人于本周五前反馈意见）",
       "gb2312"},
      {"朱镕基 與 喆", "gbk"},      // beyond GB2312, within GBK
      {"会议 😀 café ☃", "utf-8"},  // beyond GBK
      {"=?GB2312?B?not-a-word?=", "gb2312"},
  };
  for (const Case& c : cases) {
    sink_->clear();
    EXPECT_EQ(describe(send("jmail", c.text, c.text, "r@example.com")), "text:OK") << c.text;
    const std::vector<json> mails = received();
    ASSERT_EQ(mails.size(), 1u) << c.text;
    EXPECT_EQ(mails[0]["subject"], c.text);
    EXPECT_EQ(mails[0]["body"], c.text);
    EXPECT_EQ(mails[0]["charset"], c.charset) << c.text;
  }
}

TEST_F(Email, a_failed_send_is_reported_by_the_reporting_methods_only) {
  SilentServer silent;
  set_smtp_timeouts(std::chrono::milliseconds(500), std::chrono::milliseconds(1000));
  struct Case {
    const char* what;
    std::function<void()> arrange;
    const char* to;
  } conditions[] = {
      {"refused connection", [&] { set_smtp_server(closed_port()); }, "r@example.com"},
      {"refused recipient", [&] { set_smtp_server(sink_->port()); }, "refuse@example.com"},
      {"line break in an address", [&] { set_smtp_server(sink_->port()); },
       "r@example.com\r\nBcc: spy@example.com"},
      {"angle brackets inside an address", [&] { set_smtp_server(sink_->port()); },
       "r@example.com;x<y>@example.com"},
      {"silent server", [&] { set_smtp_server(silent.port()); }, "r@example.com"},
      {"no server settings", [&] { db.exec("delete from SA_Smtp"); }, "r@example.com"},
  };
  for (const Case& c : conditions) {
    c.arrange();
    for (const char* method : {"jmail", "cdonts", "aspemail", "mysendmail"}) {
      request.response.body().clear();
      request.events.clear();
      const bool reports = method != std::string("mysendmail");
      EXPECT_EQ(describe(send(method, "主题", "正文", c.to)), "empty") << c.what << " " << method;
      EXPECT_EQ(contains(std::string("Routine : tvwortqflowjiedia.") + method), reports)
          << c.what << " " << method << ": " << output();
      EXPECT_EQ(events().size(), reports ? 1u : 0u) << c.what << " " << method;
    }
  }
  EXPECT_TRUE(received().empty());
  // sendemail names its server itself: a refused one is silent.
  request.response.body().clear();
  Variant srv = "127.0.0.1:" + std::to_string(closed_port()), from = "a@example.com", name = "",
          to = "r@example.com", to_name = "", subject = "s", body = "b", html = false;
  page->sendemail(srv, from, name, to, to_name, subject, body, html);
  EXPECT_EQ(output(), "");
  EXPECT_TRUE(received().empty());
  set_smtp_timeouts(std::chrono::seconds(10), std::chrono::seconds(60));
}

TEST_F(Email, sendemail_reads_the_html_flag_and_skips_an_empty_server) {
  struct Case {
    Variant server;
    Variant html;
    const char* content_type;  // of the mail sent, or "" when none is sent
    bool reported;
  } cases[] = {
      {Variant(server()), Variant(true), "text/html", false},
      {Variant(server()), Variant(-1), "text/html", false},
      {Variant(server()), Variant("true"), "text/html", false},
      {Variant(server()), Variant("TRUE"), "text/html", false},
      {Variant(server()), Variant(false), "text/plain", false},
      {Variant(server()), Variant(0), "text/plain", false},
      {Variant(server()), Variant("1"), "text/plain", false},
      {Variant(server()), Variant("yes"), "", true},  // neither truth value nor number
      {Variant(server()), Variant::null(), "", true},
      {Variant(""), Variant(true), "", false},
      {Variant::null(), Variant(true), "", false},
  };
  for (Case& c : cases) {
    sink_->clear();
    request.response.body().clear();
    Variant from = "boss@example.com", name = "", to = "r@example.com", to_name = "",
            subject = "s", body = "b";
    page->sendemail(c.server, from, name, to, to_name, subject, body, c.html);
    const std::vector<json> mails = received();
    const std::string label = c.server.str() + " " + c.html.str();
    EXPECT_EQ(mails.empty() ? "" : mails[0]["content_type"].get<std::string>(), c.content_type)
        << label;
    EXPECT_EQ(contains("Routine : tvwortqflowjiedia.sendemail"), c.reported) << label;
  }
}

TEST_F(Email, mysendmail_creates_no_component_without_server_settings) {
  int created = 0;
  register_component("JMail.Message", [&] {
    ++created;
    return std::make_shared<JMailMessage>();
  });
  Variant subject = "s", body = "b", to = "r@example.com";
  page->mysendmail(subject, body, to);
  EXPECT_EQ(created, 1);
  db.exec("delete from SA_Smtp");
  page->mysendmail(subject, body, to);
  EXPECT_EQ(created, 1);
  register_component("JMail.Message", [] { return std::make_shared<JMailMessage>(); });
  EXPECT_EQ(received().size(), 1u);
}

}  // namespace
}  // namespace oapx1::testing
