// The picture of a workflow: its nodes in order from a start mark to an end
// mark, each box with the node's handling mode, handlers, time limit and
// allowed actions, a node that cannot be saved as it stands outlined in red.
// Drawn here as SVG: no script, and it scales to one printed A4 page.
#ifndef OAPX1_PAGES_FLOWMODEL_FLOW_DIAGRAM_H_
#define OAPX1_PAGES_FLOWMODEL_FLOW_DIAGRAM_H_

#include <string>
#include <vector>

#include "editing/node_rows.h"
#include "host/page.h"
#include "platform/script/variant.h"

namespace oapx1 {

// Path of the diagram page below the application root.
inline constexpr char kFlowDiagramPagePath[] = "flow/model/diagram.asp";

// The SVG element of the diagram of `nodes` (in order; rows as
// read_model_nodes reads them) with `problems[i]` the reason node i cannot be
// saved ("" when it can), titled `title`. Handlers are shown by full name,
// read on `conn`. Fails as the data layer does.
std::string flow_diagram_svg(const Variant& conn, const std::string& title, const std::vector<NodeRow>& nodes,
                             const std::vector<std::string>& problems);

// flow/model/diagram.asp?MOAID=model: the model's diagram on a page of its
// own, laid out to print on one A4 page. A MOAID that is no whole number or
// no model gets a page saying so. Writes nothing but the login script to a
// session without a user.
class FlowDiagramPage : public Page {
 public:
  void I_init() override;
};

}  // namespace oapx1

#endif  // OAPX1_PAGES_FLOWMODEL_FLOW_DIAGRAM_H_
