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

// The label of a node column in the history: the caption the node form shows
// it under ("允许驳回"); for a column the form does not show, a plain name
// marked so, and marked too when every save resets it ("套红（表单不显示，
// 每次保存时重置）", "节点类型（表单不显示）"); the column's name as it is when
// it is no node column.
std::string column_label(std::string_view column);

// A value of a node column in the form's words: a choice of a select box as
// its option's text with the value ("会签（2）"), a check box's "1" and "0" as
// "是" and "否"; any other value as it is.
std::string value_label(std::string_view column, const std::string& value);

// The first posted text item of a node save that is longer (in characters)
// than the column it is saved in, as the message that refuses the save
// (naming the field, the length it takes and the length posted); "" when
// every posted value fits. Reads only the posted items; never fails.
std::string check_posted_lengths(const Request& posted);

}  // namespace oapx1

#endif  // OAPX1_EDITING_POSTED_VALUES_H_
