// What the sign-in and sign-out of the HTTP host ask of the page library, as
// the application's login pages do: the login access policy (isallowlogin)
// and the audit log of sign-in events (savelog), and the client address they
// are recorded under.
#ifndef OAPX1_SERVER_SIGN_IN_H_
#define OAPX1_SERVER_SIGN_IN_H_

#include <string>
#include <string_view>
#include <vector>

#include "platform/web/intrinsics.h"
#include "platform/web/memory_intrinsics.h"

namespace oapx1 {

// The message a sign-in refused by the access policy shows.
inline constexpr std::string_view kLoginRefusedMessage =
    "系统安全设置不允许您从当前地址或在当前时间登录，请与系统管理员联系。";

// True when the access policy admits the sign-in whose account and client
// address `session` holds as `_LogUserName` and `_LogUserIPAddress`. Runs
// isallowlogin on a library page bound to `session`; what the page writes is
// dropped, its failures go to the event log.
bool login_allowed(ApplicationState& application, Session& session);
// Records a sign-in event of that session with savelog(legal, login): "1","1"
// an admitted sign-in, "0","1" a refused user, "1","0" a sign-out. What is
// written is for the security settings to decide.
void record_login_event(ApplicationState& application, Session& session, std::string_view legal,
                        std::string_view login);

}  // namespace oapx1

#endif  // OAPX1_SERVER_SIGN_IN_H_
