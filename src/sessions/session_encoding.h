// A session's state as text, for a store outside this process, and the
// merging of two requests' changes of one session made at the same time.
// The text is "<time-out minutes>\n<JSON>", the minutes first so that a
// store's server-side scripts can restart a session's expiry without
// reading the JSON.
#ifndef OAPX1_SESSIONS_SESSION_ENCODING_H_
#define OAPX1_SESSIONS_SESSION_ENCODING_H_

#include <optional>
#include <string>
#include <string_view>

#include "platform/web/memory_intrinsics.h"

namespace oapx1 {

// The session's state as the shared store keeps it. Objects are not kept
// (they live in one process); every other item keeps its type and value. A
// text item that is not UTF-8 has its bad bytes replaced rather than failing.
std::string encode_session(const MemorySession& state);
// Fills `state` from encode_session's text; false (state partly filled) for a
// text that is not one.
bool decode_session(std::string_view text, MemorySession& state);
// One request's change of a session applied to the session as another request
// left it meanwhile (all three encode_session's texts): the items `mine` sets
// to other values than `before` had (names compared without regard to letter
// case), and its time-out and code page when they differ from `before`'s,
// over `current`. nullopt when a text is not a session.
std::optional<std::string> merge_session_change(std::string_view before, std::string_view mine,
                                                std::string_view current);

}  // namespace oapx1

#endif  // OAPX1_SESSIONS_SESSION_ENCODING_H_
