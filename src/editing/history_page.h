// The change history of one workflow node as a page of the application.
#ifndef OAPX1_EDITING_HISTORY_PAGE_H_
#define OAPX1_EDITING_HISTORY_PAGE_H_

#include "host/page.h"

namespace oapx1 {

// Path of the history page below the application root; the node list links to it.
inline constexpr char kNodeHistoryPagePath[] = "flow/model/jiedianhistory.asp";

// The lines of the change history one history page shows.
inline constexpr int kHistoryPageLines = 50;

// flow/model/jiedianhistory.asp?OAID=node[&page=P]: page P (from 1, the
// newest; 1 when P is missing or no whole number) of the node's change
// history, kHistoryPageLines lines a page, newest first: when, who (name and
// account), from which address, the outcome, and each changed column's old
// and new value, user and department lists by display name; below them links
// to the newer and the older page where there are such lines. Reads only the
// lines it shows. An OAID that is not a whole number shows no lines. Writes
// nothing but the login script to a session without a user.
class NodeHistoryPage : public Page {
 public:
  void I_init() override;
};

}  // namespace oapx1

#endif  // OAPX1_EDITING_HISTORY_PAGE_H_
