// The difference an import makes to a model, in the editor's words:
// "部门审核: 时限 2 天 → 3 天; 办理人 +周八 −王五".
#ifndef OAPX1_EDITING_MODEL_DIFFERENCE_H_
#define OAPX1_EDITING_MODEL_DIFFERENCE_H_

#include <string>
#include <vector>

#include "editing/model_rows.h"
#include "editing/model_transfer.h"

namespace oapx1::editing {

// What changes of one node from `before` to `after` (two forms of one node,
// in portable form), each change as the editor's caption and the old and the
// new value in the form's words, joined by "; "; "" when nothing does.
// Accounts are named by full name, departments by path.
std::string node_difference(const PortableNode& before, const PortableNode& after, const TransferDirectory& directory);

// The lines that tell what importing `step` changes: a heading naming the
// model, then one indented line per change (its name and form, each node
// changed, added or kept, the order of its nodes); the heading alone, saying
// so, when nothing changes.
std::vector<std::string> model_difference(const ModelStep& step, const TransferDirectory& directory);

}  // namespace oapx1::editing

#endif  // OAPX1_EDITING_MODEL_DIFFERENCE_H_
