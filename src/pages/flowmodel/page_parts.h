// What the workflow model pages share: their head in the application's look,
// the 系统提示 message cell, the request's items, and the user who changes
// something, as the history names them.
#ifndef OAPX1_PAGES_FLOWMODEL_PAGE_PARTS_H_
#define OAPX1_PAGES_FLOWMODEL_PAGE_PARTS_H_

#include <string>
#include <string_view>

#include "editing/node_order.h"
#include "platform/script/variant.h"

namespace oapx1::model_pages {

// The request item `name` as text ("" when missing).
std::string item(std::string_view name);

// HTML-encoded text of a value.
std::string h(const Variant& v);
std::string h(const std::string& text);
std::string h(const char* text);

// True when the session has a signed-in user.
bool signed_in();

// True when the request is a form posted to change something: its "save"
// item is "true" (the host passes that item on only with a form posted from
// the application's own pages).
bool posted_change();

// Writes the page's head up to and including <body>: the GBK charset, the
// title, the application's style sheet and `style`.
void write_head(std::string_view title, std::string_view style);

// Writes the message cell (id msgDis): `text` as a 系统提示 line, in red for
// a refusal; nothing for an empty text.
void write_message(const std::string& text, bool refusal);

// The signed-in user as the history records a change: account, full name
// (read on `conn`) and the address the session signed in from.
Actor session_actor(const Variant& conn);

// The style every model page shares: body, tables, buttons, the message cell.
inline constexpr char kPageStyle[] =
    "body{margin:0;font:12px sans-serif;background:#fff}"
    "table{border-collapse:collapse}th,td{padding:4px 6px;border-bottom:1px solid #E4E4E0;text-align:left;"
    "vertical-align:top}th{background:#E4E4E0}a{color:#003399}"
    ".bar{padding:6px 10px;border-bottom:1px solid #808080;background:#E4E4E0}.bar h1{font-size:16px;margin:0 0 4px}"
    "#msgDis{padding:6px 10px}.refused{color:#c00}.mark{color:#c00;font-weight:bold}"
    "button{font:12px sans-serif;padding:1px 6px}"
    "a:focus,button:focus,input:focus,select:focus{outline:2px solid #0a5fd6;outline-offset:1px}"
    ".box{margin:8px 10px;padding:8px 10px;border:1px solid #808080;background:#fafaf7}";

}  // namespace oapx1::model_pages

#endif  // OAPX1_PAGES_FLOWMODEL_PAGE_PARTS_H_
