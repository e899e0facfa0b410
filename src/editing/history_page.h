// The change history of one workflow node as a page of the application, and
// the way back to the settings after one of its lines.
#ifndef OAPX1_EDITING_HISTORY_PAGE_H_
#define OAPX1_EDITING_HISTORY_PAGE_H_

#include <cstdint>
#include <optional>

#include "host/page.h"

namespace oapx1 {

// Path of the history page below the application root; the node list links to it.
inline constexpr char kNodeHistoryPagePath[] = "flow/model/jiedianhistory.asp";

// The lines of the change history one history page shows.
inline constexpr int kHistoryPageLines = 50;

// The request item in which the host hands the history page the outcome of a
// restore it made (what the user is told). The host drops the item from
// what a browser sends, so that no link can put words on the page.
inline constexpr char kRestoreMessageItem[] = "OAPX1RestoreMessage";

// flow/model/jiedianhistory.asp?OAID=node[&page=P]: the signed-in bar, links
// that open the node (in this frame, and in its model page), then page P
// (from 1, the newest; 1 when P is missing or no whole number) of the node's
// change history, kHistoryPageLines lines a page, newest first: the line's
// number, when, who (name and account), from which address, the outcome, and
// each changed column under its label (history_label) with its old and new
// value, user and department lists by display name, a list written another
// way not shown as a change; each line that changed the node offers
// 恢复到此状态; below them links to the newer and the older page where there
// are such lines. Reads only the lines it shows.
// ...&restore=E: instead of the lines, what setting the node back to its
// settings after line E would change (current → restored, and the columns a
// save cannot set), with a button that posts the restore to this page (the
// host makes it, through the editor's checks, and shows the history with
// its outcome, kRestoreMessageItem), carrying the node's version the
// difference was made from.
// An OAID that is not a whole number shows no lines. Writes nothing but the
// login script to a session without a user.
class NodeHistoryPage : public Page {
 public:
  void I_init() override;

 private:
  // The lines of page `page` of node `node`'s history (none for no node).
  void write_lines(std::optional<int64_t> node, int64_t page);
  // What restoring node `node` to line `entry` would change, and its button.
  void write_restore_preview(int64_t node, int64_t entry);
};

}  // namespace oapx1

#endif  // OAPX1_EDITING_HISTORY_PAGE_H_
