// The node settings form: reminder switches, allowed actions, name, handling
// and activation modes, handler users and the default distribution lists.
#include "pages/flownode/node_settings_page.h"
#include "editing/node_form_options.h"
#include "platform/script/script.h"

namespace oapx1 {
namespace {

// A check box: its opening text, " checked " when ticked, its closing text
// and, unless `line_end` is false, CR LF.
void checkbox(int tabs, std::string_view opening, bool checked, std::string_view closing,
              bool line_end = true) {
  write_text(tabs, opening);
  if (checked) write_text(0, " checked ");
  if (line_end) write_line(0, closing);
  else write_text(0, closing);
}

// A value from the database or the request, encoded for the markup.
std::string encoded(const Variant& v) { return html_encode(v.str()); }

}  // namespace

void tvwortqflowjiedia::write_select(const Variant& selected, FormOptions options) {
  for (const FormOption& o : options) {
    write_text(14, "<OPTION ");
    if (script_equal(selected, o.value)) write_text(0, " selected ");
    write_line(0, std::string(" value=\"") + o.value + "\">" + o.text + "</OPTION>");
  }
}

void tvwortqflowjiedia::showcontent() {
  report_and_leave(__func__, [&] {
    if (script_equal(request_object().item("save"), "del")) return;
    write_line(11, R"~(<div style="PADDING-RIGHT: 0px; PADDING-LEFT: 0px; PADDING-BOTTOM: 3px; OVERFLOW: auto; WIDTH: 100%; WORD-BREAK: break-all; PADDING-TOP: 3px; HEIGHT: 100%" >)~");
    write_line(11, "<table width=100% class=view_MapListFull cellSpacing=2 cellPadding=2 >");
    write_text(11, "<TR><TD colspan=2>");
    checkbox(1, R"~(<INPUT type="checkbox" id=isChaKanHenJi name=isChaKanHenJi )~",
             script_equal(isChaKanHenJi, "1"),
             " ><label for=isChaKanHenJi><font color=red>短信提醒</font></label>");
    checkbox(11, R"~(<INPUT type="checkbox" id=youjiantixing name=youjiantixing )~",
             script_unequal(youjiantixing, "0"),
             " ><label for=youjiantixing><font color=red>邮件提醒</font></label>");
    write_line(13, "<br><br><fieldset>");
    write_line(14, "<legend>动作类型</legend>");
    checkbox(14, R"~(<INPUT type="checkbox" id=iszhuanban name=iszhuanban )~",
             script_equal(iszhuanban, "1"), " ><label for=iszhuanban>允许转办</label>");
    checkbox(14, R"~(<INPUT type="checkbox" id=isgoutong name=isgoutong )~",
             script_equal(isgoutong, "1"), " ><label for=isgoutong>允许沟通</label><br>");
    checkbox(14, R"~(<INPUT type="checkbox" id=isFenFa name=isFenFa )~", script_equal(isFenFa, "1"),
             " ><label for=isFenFa>允许分发</label>");
    checkbox(14, R"~(<INPUT type="checkbox" id=isBoHui name=isBoHui )~", script_equal(isBoHui, "1"),
             " ><label for=isBoHui>允许驳回</label><br>");
    checkbox(0, R"~(<!--<INPUT type="checkbox" id=isPrint name=isPrint )~", script_equal(IsPrint, "1"),
             " ><label for=isPrint>允许打印</label><br>-->", false);
    write_line(13, "</fieldset>");
    write_line(11, "</td></TR>");
    write_text(11, R"~(<TR><TD ><nobr>节点名称：</TD><TD><INPUT type="text" id=JieDianName name=JieDianName value=")~");
    write_text(0, encoded(JieDianName));
    write_line(0, R"~(" class=text_120></td></TR>)~");

    auto close_select = [] {
      write_text(12, "</SELECT>");
      write_line(11, "");
      write_line(11, "</td></TR>");
    };
    write_line(11, R"~(<TR><TD >办理方式：</TD><TD><SELECT name=BanLiType ID="BanLiType" class=list_120 >)~");
    write_select(BanLiType, kHandlingOptions);
    close_select();
    write_line(11, R"~(<TR><TD >激活方式：</TD><TD><SELECT name=ProcessType ID="ProcessType" class=list_120 >)~");
    write_select(ProcessType, kActivationOptions);
    close_select();

    // Rows the browser receives but neither shows nor posts.
    write_line(0, "<!--");
    write_line(11, R"~(<TR><TD >办理信息：</TD><TD><SELECT name=IsYiJianTotal ID="IsYiJianTotal" class=list_120 >)~");
    write_select(IsYiJianTotal, kOpinionOptions);
    close_select();
    write_line(11, R"~(<TR><TD >后续流程：</TD><TD><SELECT name=IsGenZong ID="IsGenZong" class=list_120 >)~");
    write_select(Variant::null(), kFollowOptions);
    close_select();
    write_text(11, R"~(<TR><TD >停留时间：</TD><TD><INPUT type="text" id=WaitTime name=WaitTime value=")~");
    write_text(0, encoded(WaitTime));
    write_line(0, R"~(" class=text_mix maxlength=10 ONKEYPRESS="event.returnValue=IsDigit();" >)~");
    write_line(11, R"~(单位<SELECT name=TimeUnit ID="TimeUnit" LANGUAGE=javascript onchange="return TimeUnit_onchange()">)~");
    write_select(TimeUnit, kTimeUnitOptions);
    write_line(12, "</SELECT></td></TR>");
    write_line(11, R"~(<TR><TD >节点类型：</TD><TD><SELECT name=isFirst ID="isFirst" class=list_120 >)~");
    write_select(isFirst, kNodeTypeOptions);
    write_line(12, "</SELECT>");
    write_text(11, "</td></TR>-->");

    write_line(12, " <tr> ");
    write_line(12, " <td valign=top align=left colspan=2 >");
    write_line(14, "<span id=xuanzeyonghu>选择用户</span>：<br>");
    write_text(8, R"~(<TEXTAREA style="height:40;width:90%" readonly id=BanLiUserDis name=BanLiUserDis>)~");
    write_text(0, encoded(BanLiUserDis));
    write_line(0, R"~(</TEXTAREA>&nbsp;<img onclick="vbscript:openWinU('../../PowerSelect.asp?source=3')" title="选择用户" src="images/users.gif" border=0 style="cursor:hand;">)~");
    write_text(8, R"~(<input class=longtext type="hidden" name="BanLiUser" value=")~");
    write_text(0, encoded(BanLiUser));
    write_line(0, R"~("> )~");
    write_line(12, " </td>");
    write_text(12, " </tr>");
    write_line(7, "");

    write_line(11, "<TR height=30 ><TD colspan=2>");
    write_line(13, R"~(默认分发用户：<img onclick="vbscript:openWinW '../../PowerSelect.asp?FieldValue='& replace(document.all('FenFaUser').value,';','-')" title="选择用户" src="images/users.gif" border=0 style="cursor:hand;">&nbsp;<img onclick="vbscript:SetEmpty 'J'" title="清空" src="../../documents/FolderTopBar/empty.gif" border=0 style="cursor:hand;"><br>)~");
    write_text(14, R"~(<TEXTAREA style="height:40;width:98%" readonly id=FenFaUserDis name=FenFaUserDis>)~");
    write_text(0, encoded(FenFaUserDis));
    write_line(0, "</TEXTAREA>&nbsp;<br>");
    write_text(14, R"~(<input class=longtext type="hidden" name="FenFaUser" value=")~");
    write_text(0, encoded(FenFaUser));
    write_line(0, R"~("> )~");
    write_line(11, " </td>");
    write_text(11, "</tr>");
    write_line(5, "");

    write_line(11, "<TR height=30 ><TD colspan=2>");
    write_line(13, R"~(默认分发部门：&nbsp;<img src="../../treeimage/map.gif" border=0 title="选择部门" onclick="vbscript:openWinC('../../include/user/MulSeleDepart.asp')" style="cursor:hand;">&nbsp;<img onclick="vbscript:SetEmpty 'K'" title="清空" src="../../documents/FolderTopBar/empty.gif" border=0 style="cursor:hand;">)~");
    write_text(14, R"~(<TEXTAREA style="height:40;width:98%" readonly id=FenFaBuMenDis name=FenFaBuMenDis>)~");
    write_text(0, encoded(FenFaBuMenDis));
    write_line(0, "</TEXTAREA>&nbsp;<br>");
    write_text(14, R"~(<input class=longtext type="hidden" name="FenFaBuMen" value=")~");
    write_text(0, encoded(FenFaBuMen));
    write_line(0, R"~("> )~");
    write_line(11, " </td>");
    write_text(11, "</tr>");
    write_line(5, "");

    write_line(11, "</table>");
    write_line(11, "</DIV>");
    write_text(3, "");
  });
}

}  // namespace oapx1
