// The table of the application's pages: one line per page.
#include <memory>

#include "pages/flowmodel/flow_diagram.h"
#include "pages/flowmodel/flow_model_pages.h"
#include "pages/flowmodel/model_list_pages.h"
#include "pages/pickers/picker_pages.h"
#include "editing/history_page.h"
#include "editing/model_transfer_pages.h"
#include "server/web_application.h"

namespace oapx1 {

namespace {

template <class P>
PageFactory make() {
  return [] { return std::make_unique<P>(); };
}

}  // namespace

std::vector<PageRoute> application_pages(PageFactory node_page) {
  return {
      {"flow/model/jiedian.asp", std::move(node_page), PageAccess::kWritesWhenPosted, PageRules::kNodeEditor},
      {kModelPagePath, make<FlowModelPage>(), PageAccess::kReads, PageRules::kWorkflow},
      {"flow/model/jiedianlist.asp", make<FlowNodeListPage>(), PageAccess::kWritesWhenPosted, PageRules::kWorkflow},
      {kModelListPagePath, make<ModelListPage>(), PageAccess::kWritesWhenPosted, PageRules::kWorkflow},
      {kFormListPagePath, make<FormListPage>(), PageAccess::kWritesWhenPosted, PageRules::kWorkflow},
      {kFlowDiagramPagePath, make<FlowDiagramPage>(), PageAccess::kReads, PageRules::kWorkflow},
      {kNodeHistoryPagePath, make<NodeHistoryPage>(), PageAccess::kWritesWhenPosted, PageRules::kNodeHistory},
      {kModelExportPagePath, make<ModelExportPage>(), PageAccess::kWrites, PageRules::kWorkflow},
      {kModelImportPagePath, make<ModelImportPage>(), PageAccess::kWritesWhenPosted, PageRules::kWorkflow},
      {"PowerSelect.asp", make<UserPickerPage>(), PageAccess::kReads, PageRules::kWorkflow},
      {"include/user/MulSeleDepart.asp", make<DepartmentPickerPage>(), PageAccess::kReads, PageRules::kWorkflow},
  };
}

}  // namespace oapx1
