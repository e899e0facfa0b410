// The table of the application's pages: one line per page.
#include <memory>

#include "pages/flowmodel/flow_model_pages.h"
#include "pages/pickers/picker_pages.h"
#include "server/web_application.h"

namespace oapx1 {

namespace {

template <class P>
PageFactory make() {
  return [] { return std::make_unique<P>(); };
}

}  // namespace

std::vector<std::pair<std::string, PageFactory>> application_pages(PageFactory node_page) {
  return {
      {"flow/model/jiedian.asp", std::move(node_page)},
      {kModelPagePath, make<FlowModelPage>()},
      {"flow/model/jiedianlist.asp", make<FlowNodeListPage>()},
      {"PowerSelect.asp", make<UserPickerPage>()},
      {"include/user/MulSeleDepart.asp", make<DepartmentPickerPage>()},
  };
}

}  // namespace oapx1
