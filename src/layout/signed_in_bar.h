// The bar at the top of the host's own pages (the model page, the node
// list's history, the page that refuses a user without the permission): who
// is signed in, and a way out.
#ifndef OAPX1_LAYOUT_SIGNED_IN_BAR_H_
#define OAPX1_LAYOUT_SIGNED_IN_BAR_H_

#include <string>
#include <string_view>

#include "platform/script/variant.h"

namespace oapx1 {

// The path of the sign-out below the application's address (the
// application item TavrinOAURL); the host answers a post to it.
inline constexpr char kSignOutPath[] = "logout.asp";

// True when the session of the request bound to this thread has a signed-in
// user (its UserName is not empty): the host pages write nothing else for
// nobody. Never fails.
bool session_signed_in();

// The bar's markup, one line ending in CR LF: "当前用户：NAME（ACCOUNT）" and a
// 退出 button in a form that posts to `logout_url` (a post, so that no link
// or image of another site signs anyone out); then a line of script that
// hides it in a page shown inside another's frame (whose bar is on top). `name` may be empty (an
// account without a full name: the account alone is shown). Every text is
// HTML-encoded. Reads nothing; never fails.
std::string signed_in_bar(std::string_view name, std::string_view account, std::string_view logout_url);

// The bar of the request bound to this thread: its session's user
// (UserName), that account's full name read on the open connection `conn`
// (kx_userinfor.TureName), and the sign-out at the application item
// TavrinOAURL followed by kSignOutPath. "" when nobody is signed in. Fails as
// the data layer does.
std::string signed_in_bar(const Variant& conn);

}  // namespace oapx1

#endif  // OAPX1_LAYOUT_SIGNED_IN_BAR_H_
