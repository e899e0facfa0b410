// Pieces shared by the window frames of the layout folder: the image folder
// and the message row's text.
#ifndef OAPX1_LAYOUT_FRAME_PARTS_H_
#define OAPX1_LAYOUT_FRAME_PARTS_H_

#include <string>

#include "platform/script/variant.h"

namespace oapx1::layout {

// The session item "SystemURL" followed by "/Include/": the base of the
// frames' images, read afresh from the session on each call.
std::string image_base();
// The session item "SystemURL" as it stands, for the frames that append their
// image paths to it directly.
std::string system_url();
// The text of a frame's message row: the request item "msg", HTML-encoded
// because it is request text, followed by the page message `page_msg` as the
// page set it. Empty when both are empty.
std::string frame_message(const Variant& page_msg);

}  // namespace oapx1::layout

#endif  // OAPX1_LAYOUT_FRAME_PARTS_H_
