// The node's columns in the editor's words, and the values a node save posts,
// checked against what the node form can send before anything of the save
// is written.
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

// What the editor calls a node column (OA_Flow_Model_JieDian, any letter
// case): the label the node form shows it under ("允许驳回" for isBoHui,
// "节点名称" for JieDianName), or, for a column the form does not show, a
// plain name of ours ("允许打印" for IsPrint). The column's name as it is
// for a column of no node.
std::string column_label(std::string_view column);

// The label with the column's name: "节点名称（JieDianName）"; the column's
// name as it is for a column of no node.
std::string column_caption(std::string_view column);

// True when the node form shows the column to the editor; false for the
// columns it carries hidden, in its commented-out rows or not at all.
bool column_on_form(std::string_view column);

// True for a column the form does not show but every save of the node page
// sets anew (the check boxes it does not carry become "0", IsYiJianTotal
// "1", DaiLiIsAble "0" unless posted with handler type 3): a change of it
// in a saved line is the save's doing, not the editor's.
bool column_reset_by_save(std::string_view column);

// A stored value of `column` in the editor's words, as the form shows it: a
// check box "勾选" ("1"; for 邮件提醒 anything but "0") or "未勾选", a
// select's option text ("办理式" for BanLiType "1"), "（空）" for any other
// empty value; any other value as it is (lists are not resolved to names
// here).
std::string column_value_words(std::string_view column, std::string_view value);

// The label of a node column in the history: column_label for a column the
// form shows ("允许驳回"); for one it does not show, that name marked so, and
// marked too when every save resets it ("允许套红（表单不显示，每次保存时重置）",
// "节点类型（表单不显示）"); the column's name as it is when it is no node column.
std::string history_label(std::string_view column);

// The first posted text item of a node save that is longer (in characters)
// than the column it is saved in, as the message that refuses the save
// (naming the field, the length it takes and the length posted); "" when
// every posted value fits. Reads only the posted items; never fails.
std::string check_posted_lengths(const Request& posted);

// The message that refuses a posted save holding a value the node form
// cannot send, naming each such field and what it takes, or "" when there is
// none. An item that is not posted (or posted empty) keeps the stored value
// and passes. Refused are: a control character in any text item (bytes below
// 0x20 and 0x7F; a tab is kept only in the node's name), since every engine
// must store a value as it was posted; a select's value that is none of its
// options (BanLiType, ProcessType, TimeUnit; BanLiRenType 1, 2 or 3, the
// handler types the page knows); a WaitTime that is not a whole number of 0
// to 9999999999 (the form's field takes ten digits); a name that is blank
// (blank_text: only spaces, also ideographic ones, and tabs); a check box
// posted with any value but "on". Reads no database; never fails.
std::string check_posted_values(const Request& posted);

// True when `value` holds a byte no stored text may hold: below 0x20 (but a
// tab where `tab` allows it) or 0x7F. Never fails.
bool has_control_character(std::string_view value, bool tab);

}  // namespace oapx1

#endif  // OAPX1_EDITING_POSTED_VALUES_H_
