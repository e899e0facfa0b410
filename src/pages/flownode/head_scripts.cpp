// The fixed text of the node settings page around its frame: the document head
// with styles and client scripts (block B), the hidden fields (block C) and the
// closing block with the trailing scripts (block D).
#include "pages/flownode/node_settings_page.h"
#include "platform/script/script.h"

namespace oapx1 {

void write_node_page_head() {
  write_line(0, "<html>");
  write_line(0, "<head>");
  write_line(0, "<title>流程图设计</title>");
  write_line(0, R"~(<style type="text/css">)~");
  write_line(0, ".sec1 {");
  write_line(1, "font-size:12px; BORDER-TOP: #E4E4E0 1px solid; BORDER-LEFT: #E4E4E0 1px solid; CURSOR: hand; BACKGROUND-COLOR: #ffffff");
  write_line(0, "}");
  write_line(0, ".sec2 {");
  write_line(1, "font-size:12px;BORDER-RIGHT: #808080 1px solid; BORDER-TOP: #ffffff 1px solid; FONT-WEIGHT: bold; BORDER-LEFT: #ffffff 1px solid; CURSOR: hand; BACKGROUND-COLOR: #E4E4E0");
  write_line(0, "}");
  write_line(0, ".main_tab {");
  write_line(1, "BORDER-RIGHT: #808080 1px solid; BORDER-LEFT: #ffffff 1px solid; COLOR: #000000; BORDER-BOTTOM: #808080 1px solid; BACKGROUND-COLOR: #E4E4E0");
  write_line(0, "}");
  write_line(0, "</style>");
  write_line(0, R"~(<script language="JavaScript">)~");
  write_line(0, " function secBoard(n)");
  write_line(0, " {");
  write_line(0, " for(i=0;i<secTable.cells.length;i++)");
  write_line(0, R"~( secTable.cells[i].className="sec1";)~");
  write_line(0, R"~( secTable.cells[n].className="sec2";)~");
  write_line(0, " for(i=0;i<mainTable.tBodies.length;i++)");
  write_line(0, R"~( mainTable.tBodies[i].style.display="none";)~");
  write_line(0, R"~( mainTable.tBodies[n].style.display="block";)~");
  write_line(0, " }");
  write_line(0, "function check()");
  write_line(0, "{");
  write_line(1, "var tempStr;");
  write_line(1, R"~(if(formData.JieDianName.value==""))~");
  write_line(1, " {");
  write_line(2, R"~(alert("节点名称不能为空！"))~");
  write_line(2, "return;");
  write_line(1, " }");
  write_line(2, "formData.CurrentJieDianYongHu.value=formData.BanLiUser.value;");
  write_line(2, R"~(if(formData.BanLiUser.value==""))~");
  write_line(3, "{");
  write_line(3, R"~(alert("请选择该节点的办理用户！");)~");
  write_line(3, "return;");
  write_line(3, "}");
  write_line(1, R"~(formData.save.value="true";)~");
  write_line(1, "formData.submit();");
  write_line(0, "}");
  write_line(0, "function del()");
  write_line(0, "{");
  write_line(1, R"~(if(confirm("确实要删除选定的流程节点吗？")))~");
  write_line(1, "{");
  write_line(2, R"~(formData.save.value="del";)~");
  write_line(2, "formData.submit();");
  write_line(1, "}");
  write_line(0, "}");
  write_text(0, "//-->");
  write_line(0, "</script>");
  write_line(0, "<script language=vbscript>");
  write_line(0, "function SetEmpty(Parm)");
  write_line(1, R"~(if Parm="J" then)~");
  write_line(2, R"~(document.formData.FenFaUser.value="")~");
  write_line(2, R"~(document.formData.FenFaUserDis.value="")~");
  write_line(1, "else");
  write_line(2, R"~(document.formData.FenFaBuMen.value="")~");
  write_line(2, R"~(document.formData.FenFaBuMenDis.value="")~");
  write_line(1, "end if");
  write_line(0, "end function");
  write_line(0, "function openWinW(url)");
  write_line(1, R"~(k=showModalDialog(url,"","dialogWidth:400px;status:no;status:no;dialogHeight:450px;scroll:no;"))~");
  write_line(1, R"~(if k<>"" then)~");
  write_line(2, R"~(if ubound(split(k,"$#@&!"))>=0 then)~");
  write_line(3, R"~(document.formData.FenFaUser.value=split(k,"$#@&!")(0))~");
  write_line(3, R"~(document.formData.FenFaUserDis.value=split(k,"$#@&!")(1))~");
  write_line(2, "end if");
  write_line(1, "end if");
  write_line(0, "end function");
  write_line(0, "function openWinC(url)");
  write_line(1, R"~(k=showModalDialog(url,"","dialogWidth:405px;status:no;status:no;dialogHeight:450px;scroll:no"))~");
  write_line(1, R"~(if ubound(split(k,"$#@&!"))>=0 then)~");
  write_line(2, R"~(document.formData.FenFaBuMen.value=";"&split(k,"$#@&!")(0)&";")~");
  write_line(2, R"~(document.formData.FenFaBuMenDis.value=replace(split(k,"$#@&!")(1),";",","))~");
  write_line(1, "end if");
  write_line(0, "end function");
  write_line(0, "function openWinB(url)");
  write_line(1, R"~(k=showModalDialog(url,"","dialogWidth:400px;status:no;status:no;dialogHeight:430px;scroll:no"))~");
  write_line(1, R"~(if ubound(split(k,"$#@&!"))>=0 then)~");
  write_line(2, R"~(document.formData.BanLiUser.value=split(k,"#")(0))~");
  write_line(2, R"~(document.formData.BanLiUserDis.value=split(k,"#")(1))~");
  write_line(1, "end if");
  write_line(0, "end function");
  write_line(0, "</script>");
  write_line(0, "<SCRIPT ID=clientEventHandlersJS LANGUAGE=javascript>");
  write_line(0, "<!--");
  write_line(0, "function TimeUnit_onchange() {");
  write_line(0, R"~(if(formData.TimeUnit.value=="不限"))~");
  write_line(1, "{");
  write_line(2, "formData.WaitTime.disabled=true;");
  write_line(2, R"~(formData.WaitTime.style.backgroundColor="#f3f3f3";)~");
  write_line(1, "}");
  write_line(0, "else");
  write_line(1, "{");
  write_line(2, "formData.WaitTime.disabled=false;");
  write_line(2, R"~(formData.WaitTime.style.backgroundColor="#ffffff";)~");
  write_line(1, "}");
  write_line(0, "}");
  write_text(0, "//-->");
  write_line(0, "</SCRIPT>");
  write_line(0, "<script>");
  write_line(0, "function IsDigit()");
  write_line(0, "{");
  write_line(0, " return ((event.keyCode >= 48) && (event.keyCode <= 57));");
  write_line(0, "}");
  write_line(0, "</script>");
  write_line(0, R"~(<link rel="stylesheet" type="text/css" href="../../style.css" title="style">)~");
  write_line(0, R"~(<body aLink="#003399" bgColor="#ffffff" leftMargin="0" link="#003399" text="#000000" topMargin="0" scroll=no vLink="#003399" MARGINHEIGHT="0" MARGINWIDTH="0">)~");
  write_line(0, R"~(<form action="" method="post" name="formData" >)~");
}

void write_node_page_hidden_fields(const Variant& oaid, const Variant& banliuser) {
  write_line(1, R"~(<INPUT type="hidden" id=save name=save value="">)~");
  write_text(1, R"~(<INPUT type="hidden" id=OAID name=OAID value=")~");
  write_text(0, html_encode(oaid.str()));
  write_line(0, R"~(">)~");
  write_line(1, R"~(<INPUT type="hidden" id=CurrentJieDianYongHu name=CurrentJieDianYongHu value="">)~");
  write_line(1, R"~(<INPUT type="hidden" id=BanLiRenType name=BanLiRenType value="3">)~");
  write_text(1, R"~(<INPUT type="hidden" id=ShangJiZhiDing name=ShangJiZhiDing value=")~");
  write_text(0, html_encode(banliuser.str()));
  write_line(0, R"~(">)~");
}

void write_node_page_end() {
  write_line(0, "</form>");
  write_line(0, "</body></html>");
  write_line(0, R"~(<script language="vbscript">)~");
  write_line(0, "function openWin(url)");
  write_line(1, R"~(k=showModalDialog(url,"","dialogWidth:450px;status:no;status:no;dialogHeight:300px;scroll:no"))~");
  write_line(1, R"~(if k<>"" then)~");
  write_line(2, "formData.TiaoJian.value=k");
  write_line(1, "end if");
  write_line(0, "end function");
  write_line(0, "function openWinU(url)");
  write_line(1, R"~(k=showModalDialog(url,"","dialogWidth:400px;status:no;status:no;dialogHeight:450px;scroll:no;"))~");
  write_line(1, R"~(if k<>"" then)~");
  write_line(2, R"~(if ubound(split(k,"$#@&!"))>=0 then)~");
  write_line(3, R"~(document.formData.BanLiUser.value=split(k,"$#@&!")(0))~");
  write_line(3, R"~(document.formData.BanLiUserDis.value=split(k,"$#@&!")(1))~");
  write_line(2, "end if");
  write_line(1, "end if");
  write_line(0, "end function");
  write_line(0, "</script>");
  write_line(0, "<SCRIPT LANGUAGE=vbscript>");
  write_line(0, "<!--");
  write_line(1, "sub doDelCondition");
  write_line(2, "if formData.ConditionList.selectedIndex<0 then");
  write_line(3, R"~(msgbox "请选择要删除的条件！",vbinformation,"提示")~");
  write_line(3, "exit sub");
  write_line(2, "end if");
  write_line(2, "formData.ConditionList.options.remove formData.ConditionList.selectedIndex");
  write_line(1, "end sub");
  write_text(0, "//-->");
  write_line(0, "</SCRIPT>");
  write_text(0, " ");
}

}  // namespace oapx1
