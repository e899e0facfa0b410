#include "layout/signed_in_bar.h"

#include "lookups/rows.h"
#include "platform/data/recordset.h"
#include "platform/script/script.h"
#include "platform/web/intrinsics.h"

namespace oapx1 {

std::string signed_in_bar(std::string_view name, std::string_view account, std::string_view logout_url) {
  const std::string who = name.empty() ? html_encode(account)
                                       : html_encode(name) + "（" + html_encode(account) + "）";
  return "<div id=\"signed-in\" style=\"text-align:right;padding:4px 8px;font:12px sans-serif;"
         "background:#F4F4F0;border-bottom:1px solid #E4E4E0\">当前用户：<span id=\"signed-in-user\">" +
         who + "</span> <form method=\"post\" action=\"" + html_encode(logout_url) +
         "\" style=\"display:inline;margin:0 0 0 8px\"><button type=\"submit\" id=\"sign-out\">退出</button>"
         "</form></div>\r\n"
         // Inside the model page's frame the model page's own bar says it already.
         "<script>if (window.top !== window.self) document.getElementById(\"signed-in\").hidden = true;</script>\r\n";
}

bool session_signed_in() { return !script_equal(session_object().item("UserName"), ""); }

std::string signed_in_bar(const Variant& conn) {
  const std::string account = session_object().item("UserName").str();
  if (account.empty()) return "";
  Variant rows =
      open_rows("select TureName from kx_userinfor where UserName='" + sql_text(Variant(account)) + "'", conn);
  Recordset& r = rows.as<Recordset>();
  const std::string name = r.Eof() ? std::string() : r.field("TureName").str();
  r.Close();
  return signed_in_bar(name, account, application_object().item("TavrinOAURL").str() + kSignOutPath);
}

}  // namespace oapx1
