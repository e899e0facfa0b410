// Internal mail, short messages, a recipient's status and a user's address.
#include <memory>
#include <string>

#include "platform/data/recordset.h"
#include "support/page_fixture.h"
#include "support/test_pg.h"

namespace oapx1::testing {
namespace {

class InternalMail : public PageFixture<> {
 protected:
  InternalMail() {
    set_clock(make_datetime(2026, 5, 6, 9, 7, 3));
    db.exec("insert into KX_UserInfor (UserName, TureName) values ('zhangsan', '张三')");
  }
  void SetUp() override { connect(); }

  // Every row of a table as "a|b|c", rows joined by "\n" in key order.
  std::string rows(const std::string& columns, const std::string& table) const {
    return db.scalar("select coalesce(group_concat(r, char(10)), '') from (select " + columns +
                     " as r from " + table + " order by OAID)");
  }
  std::string messages() const { return rows("userName", "OA_MSG"); }
};

TEST_F(InternalMail, sendneibuyoujian_writes_the_mail_its_todo_entries_and_messages) {
  struct Case {
    const char* sender;
    const char* signed_as;
  } cases[] = {{"800", "服务器"}, {"zhangsan", "张三"}};
  for (const Case& c : cases) {
    db.exec("delete from KX_Email; delete from OA_DaiBan_Mail; delete from OA_MSG;");
    Variant sender = c.sender, recipients = "lisi;wangwu;", subject = "周会's <通知>",
            content = "内容";
    page->sendneibuyoujian(sender, recipients, subject, content);

    EXPECT_EQ(output(), "") << c.sender;
    EXPECT_TRUE(events().empty()) << c.sender;
    // The trailing ";" leaves an entry with an empty name in the status list.
    EXPECT_EQ(db.scalar("select KXID || '|' || EmailSubject || '|' || EmailContent || '|' || "
                        "EmailFrom || '|' || ImpDegree || '|' || EmailStatus || '|' || "
                        "EmailDate || '|' || EmailTo from KX_Email"),
              std::string("1|周会's <通知>|内容|") + c.sender +
                  "|C|1|2026-05-06 09:07:03|*lisi-0-0-0*wangwu-0-0-0*-0-0-0*");
    EXPECT_EQ(rows("BiaoTi || '|' || EOAID || '|' || ShiJian || '|' || FaJianRen || '|' || "
                   "NeiWai || '|' || ShouJianRen",
                   "OA_DaiBan_Mail"),
              std::string("周会's <通知>|1|2026-05-06 09:07|") + c.sender + "|1|lisi\n" +
                  "周会's <通知>|1|2026-05-06 09:07|" + c.sender + "|1|wangwu");
    const std::string message = std::string("0|来自：") + c.signed_as +
                                "&nbsp;主题：周会&#39;s &lt;通知&gt;|2026-05-06 09:07|"
                                "MessageInfoDis.asp?KXID=1|detail|点击查看详情|0|0|1|";
    EXPECT_EQ(rows("outType || '|' || userName || '|' || msg || '|' || shijian || '|' || url || "
                   "'|' || target || '|' || LinkText || '|' || isDisplay || '|' || isView || "
                   "'|' || ID1 || '|' || ID2",
                   "OA_MSG"),
              std::string("0|lisi|") + message.substr(2) + "\n0|wangwu|" + message.substr(2));
    EXPECT_EQ(describe(recipients), "text:lisi*wangwu*");
  }
}

TEST_F(InternalMail, myfunsendxinxi_sends_one_message_per_name_between_any_separators) {
  struct Case {
    Variant recipients;
    const char* rewritten;
    const char* names;
  } cases[] = {
      {Variant("a,b;c"), "text:a*b*c", "a\nb\nc"},
      {Variant(";;a,,b*;"), "text:**a**b**", "a\nb"},
      {Variant(""), "text:", ""},
      {Variant::null(), "null", ""},
  };
  for (Case& c : cases) {
    db.exec("delete from OA_MSG");
    Variant type = "1", message = "有新文件", link = "查看", url = "doc.asp?id=7", target = "_blank",
            id1 = 7, id2 = "";
    page->myfunsendxinxi(c.recipients, type, message, link, url, target, id1, id2);
    EXPECT_EQ(describe(c.recipients), c.rewritten);
    EXPECT_EQ(messages(), c.names) << c.rewritten;
    EXPECT_EQ(db.scalar("select count(*) from OA_MSG where msg <> '有新文件' or ID1 <> '7' or "
                        "isView <> '0'"),
              "0");
  }
  EXPECT_TRUE(events().empty());
}

TEST_F(InternalMail, getemailstatus_reads_a_field_of_the_named_recipient) {
  db.exec(
      "insert into KX_Email (KXID, EmailTo) values (5, '*Lisi-1-0-2*wangwu-0-0-0*'), (6, NULL)");
  struct Case {
    Variant mail;
    const char* name;
    int index;
    const char* expected;
    bool reported;
  } cases[] = {
      {Variant(5), "lisi", 0, "text:Lisi", false},    // the name as stored
      {Variant("5"), "LISI", 3, "text:2", false},     // any letter case
      {Variant(5), "wangwu", 1, "text:0", false},
      {Variant(5), "zhaoliu", 0, "text:", false},     // not a recipient
      {Variant(7), "lisi", 0, "text:", false},        // no such mail
      {Variant(6), "lisi", 0, "text:", false},        // no recipients
      {Variant(5), "lisi", 4, "text:", true},         // beyond the last field
      {Variant("5 or 1=1"), "lisi", 0, "text:", true}, // not a mail id
  };
  for (Case& c : cases) {
    request.response.body().clear();
    Variant name = c.name, index = c.index;
    EXPECT_EQ(describe(page->getemailstatus(c.mail, name, index)), c.expected)
        << c.mail.str() << " " << c.name << " " << c.index;
    EXPECT_EQ(contains("Routine : tvwortqflowjiedia.getemailstatus"), c.reported) << c.mail.str();
  }
}

TEST_F(InternalMail, funuseremail_falls_back_to_the_second_address) {
  db.exec(
      "insert into OA_User_OtherInfor (UserName, Email1, Email2) values "
      "('a', 'a@example.com', 'a2@example.com'), ('b', '', 'b2@example.com'), "
      "('c', NULL, 'c2@example.com'), ('d', '', NULL), ('O''Neil', 'o@example.com', '')");
  struct Case {
    const char* name;
    const char* expected;
  } cases[] = {
      {"a", "text:a@example.com"}, {"b", "text:b2@example.com"}, {"c", "text:c2@example.com"},
      {"d", "null"},               {"nobody", "text:"},          {"O'Neil", "text:o@example.com"},
  };
  for (const Case& c : cases) {
    Variant name = c.name;
    EXPECT_EQ(describe(page->funuseremail(name)), c.expected) << c.name;
  }
  EXPECT_EQ(describe(page->sql), "text:select * from OA_User_OtherInfor where UserName='O''Neil'");
  EXPECT_TRUE(events().empty());
}

// The mail row, its key read back and the to-do insert on the other engine.
TEST_F(InternalMail, sendneibuyoujian_on_postgres) {
  PgTestSchema pg("oapx1_messaging");
  if (pg.url().empty()) GTEST_SKIP() << "OAPX1_TEST_PG is not set";
  request.application_state.set_item("KXTDBConnectString", pg.url());
  page = std::make_unique<LibraryPage>();
  connect();
  for (int n = 1; n <= 2; ++n) {
    Variant sender = "800", recipients = "lisi;wangwu", subject = "O'Neil 的会", content = "";
    page->sendneibuyoujian(sender, recipients, subject, content);
  }
  EXPECT_EQ(output(), "");
  // Four to-do entries and four messages, each pointing at one of two mails.
  Recordset rs;
  rs.Open(
      "select (select count(*) from OA_DaiBan_Mail d join KX_Email e on e.KXID = d.EOAID), "
      "(select count(distinct EOAID) from OA_DaiBan_Mail), "
      "(select count(*) from OA_MSG m join KX_Email e on m.ID1 = cast(e.KXID as varchar(20))), "
      "(select max(BiaoTi) from OA_DaiBan_Mail)",
      page->conn, 1, 3);
  EXPECT_EQ(rs.field(0).str() + "|" + rs.field(1).str() + "|" + rs.field(2).str() + "|" +
                rs.field(3).str(),
            "4|2|4|O'Neil 的会");
}

}  // namespace
}  // namespace oapx1::testing
