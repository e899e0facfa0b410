// The text values a node save posts, checked against what the node's
// columns hold before anything of the save is written or recorded, and the
// captions people know those columns by.
#ifndef OAPX1_EDITING_POSTED_VALUES_H_
#define OAPX1_EDITING_POSTED_VALUES_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/web/intrinsics.h"

namespace oapx1 {

// The most characters a node column takes from a posted save: a name 200, a
// code or a number 50, a ';'-list of accounts or departments 65,535. 0 for a
// column no posted text is saved in.
size_t column_length(std::string_view column);

// The caption of a node column for people, with its own name:
// "节点名称（JieDianName）"; the column's name as it is when it has none.
std::string column_caption(std::string_view column);

// The caption of a node column for people, alone: "节点名称"; the column's
// name as it is when it has none.
std::string column_words(std::string_view column);

// The first posted text item of a node save that is longer (in characters)
// than the column it is saved in, as the message that refuses the save
// (naming the field, the length it takes and the length posted); "" when
// every posted value fits. Reads only the posted items; never fails.
std::string check_posted_lengths(const Request& posted);

}  // namespace oapx1

#endif  // OAPX1_EDITING_POSTED_VALUES_H_
