#include "pages/flowmodel/page_parts.h"

#include "editing/node_history.h"
#include "layout/signed_in_bar.h"
#include "platform/script/script.h"
#include "platform/web/intrinsics.h"

namespace oapx1::model_pages {

std::string item(std::string_view name) { return request_object().item(name).str(); }

std::string h(const Variant& v) { return html_encode(v.str()); }
std::string h(const std::string& text) { return html_encode(text); }
std::string h(const char* text) { return html_encode(text); }

bool signed_in() { return session_signed_in(); }

bool posted_change() { return script_equal(request_object().item("save"), "true"); }

void write_head(std::string_view title, std::string_view style) {
  const std::string css = session_object().item("SystemURL").str() + "Include/imagesV10/CSSForV10.css";
  Response& out = response_object();
  out.write("<!DOCTYPE html>\r\n<html lang=\"zh-CN\">\r\n<head>\r\n");
  out.write("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\">\r\n");
  out.write("<title>" + std::string(title) + "</title>\r\n");
  out.write("<link href=\"" + html_encode(css) + "\" type=\"text/css\" rel=\"stylesheet\">\r\n");
  out.write("<style>" + std::string(style) + "</style>\r\n</head>\r\n");
}

void write_message(const std::string& text, bool refusal) {
  if (text.empty()) return;
  response_object().write("<div id=\"msgDis\" role=\"alert\"" + std::string(refusal ? " class=\"refused\"" : "") +
                          ">" + html_encode(text) + "</div>\r\n");
}

Actor session_actor(const Variant& conn) {
  Actor actor;
  actor.account = session_object().item("UserName").str();
  actor.name = full_name(conn, actor.account);
  actor.address = session_object().item("_LogUserIPAddress").str();
  return actor;
}

}  // namespace oapx1::model_pages
