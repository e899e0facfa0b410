// The workflow model as the application shows it: the model page holds the
// frame `FMain` with the model's node list and the frame `FJieDian` in which
// the list opens the node settings page. A saved node tells `parent.FMain` to
// reload, so the list shows what was saved.
#ifndef OAPX1_PAGES_FLOWMODEL_FLOW_MODEL_PAGES_H_
#define OAPX1_PAGES_FLOWMODEL_FLOW_MODEL_PAGES_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "editing/node_rows.h"
#include "host/page.h"

namespace oapx1 {

// The name of the frame in which the node list opens the node settings page.
inline constexpr char kNodeFrameName[] = "FJieDian";

// flow/model/model.asp?OAID=model[&JieDianID=node]: the model's name and
// form, a link back to the list of models and one to the printable diagram,
// over the two frames; the node frame starts on the node `JieDianID` (alias
// `node`) when that is a node of the model, else on the first node in the
// list's order. Without OAID, the model is the one of the node given. An OAID that is
// not a whole number fails (reported) before any statement; a model that
// does not exist gets a page saying so. Writes nothing but the login script
// to a session without a user.
class FlowModelPage : public Page {
 public:
  void I_init() override;

 private:
  // The page for a model number with no model: its message in the message cell.
  void write_missing_model();
  // The node page the node frame starts on: node `wanted` when it is a node
  // of model `model`, else the model's first in the list's order;
  // "about:blank" for a model without nodes.
  std::string first_node_url(int64_t model, std::optional<int64_t> wanted);
};

// flow/model/jiedianlist.asp?MOAID=model: the nodes of the model in the
// list's order (editing/node_order.h), each name opening the node settings
// page in the node frame, each "记录" link the node's change history
// (jiedianhistory.asp) there, each node that cannot be saved as it stands
// marked with the reason; per row ＋ (insert a node after it), ↑, ↓ and 删除,
// and 在末尾添加节点 below; beside the list the model's diagram (flow_diagram.h).
// A posted form (`save=true` with `add`=node|"end", `up`, `down` or `remove`
// =node, and `ver`, the list's version shown) changes the list through
// editing/node_order.h; a removal is asked first (a confirmation posting
// `confirm=1`); a node added opens in the node frame. The shared script
// (Include/js/orderby.js) asks before a click leaves unsaved edits of the open
// node. Writes nothing but the login script to a session without a user.
class FlowNodeListPage : public Page {
 public:
  void I_init() override;

 private:
  // Makes the posted change to model `model`'s list; the message it ends
  // with (`refused` set for a refusal), the node added in `*opened` and the
  // node whose removal is to be confirmed in `*confirm` (0: none).
  std::string apply_post(int64_t model, bool& refused, int64_t* opened, int64_t* confirm);
  // The rows of the list; `problems[i]` is node i's reason it cannot be
  // saved; the row of node `opened` is shown selected.
  void write_rows(const std::vector<NodeRow>& nodes, const std::vector<std::string>& problems, int64_t opened);
  // The question whether to remove node `node`, naming it, posting to `self`.
  void write_confirm(const std::vector<NodeRow>& nodes, int64_t node, const std::string& self,
                     const std::string& version);
};

}  // namespace oapx1

#endif  // OAPX1_PAGES_FLOWMODEL_FLOW_MODEL_PAGES_H_
