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

// flow/model/model.asp?OAID=model: the model's name and form over the two
// frames; the node frame starts on the model's first node. An OAID that is
// not a whole number fails (reported) before any statement. With JieDian=node
// (a node of the model) the node frame starts on that node instead. Writes nothing
// but the login script to a session without a user.
class FlowModelPage : public Page {
 public:
  void I_init() override;
};

// flow/model/jiedianlist.asp?MOAID=model: the nodes of the model in order
// (by OAID), each name opening the node settings page in the node frame and
// each "记录" link the node's change history (jiedianhistory.asp) there.
// Writes nothing but the login script to a session without a user.
class FlowNodeListPage : public Page {
 public:
  void I_init() override;
};

}  // namespace oapx1

#endif  // OAPX1_PAGES_FLOWMODEL_FLOW_MODEL_PAGES_H_
