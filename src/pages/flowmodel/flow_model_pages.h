// The workflow model as the application shows it: the model page holds the
// frame `FMain` with the model's node list and the frame `FJieDian` in which
// the list opens the node settings page. A saved node tells `parent.FMain` to
// reload, so the list shows what was saved.
#ifndef OAPX1_PAGES_FLOWMODEL_FLOW_MODEL_PAGES_H_
#define OAPX1_PAGES_FLOWMODEL_FLOW_MODEL_PAGES_H_

#include "host/page.h"

namespace oapx1 {

// The name of the frame in which the node list opens the node settings page.
inline constexpr char kNodeFrameName[] = "FJieDian";

// flow/model/model.asp?OAID=model[&JieDianID=node]: the model's name and
// form over the two frames; the node frame starts on the node `JieDianID`
// (alias `node`) when that is a node of the model, else on the model's first
// node. Without OAID, the model is the one of the node given. An OAID that is
// not a whole number fails (reported) before any statement; a model that
// does not exist gets a page saying so. Writes nothing but the login script
// to a session without a user.
class FlowModelPage : public Page {
 public:
  void I_init() override;

 private:
  // The page for a model number with no model: its message in the message cell.
  void write_missing_model();
};

// flow/model/jiedianlist.asp?MOAID=model: the nodes of the model in order
// (by OAID), each name opening the node settings page in the node frame and
// each "记录" link the node's change history (jiedianhistory.asp) there; the
// shared script (Include/js/orderby.js) asks before a click leaves unsaved
// edits of the open node. Writes nothing but the login script to a session
// without a user.
class FlowNodeListPage : public Page {
 public:
  void I_init() override;
};

}  // namespace oapx1

#endif  // OAPX1_PAGES_FLOWMODEL_FLOW_MODEL_PAGES_H_
