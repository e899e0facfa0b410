// The workflow node settings page: edits one node (a row of
// OA_Flow_Model_JieDian) of a workflow model. One object serves one request:
// the host calls I_init, which writes the whole page, then OnEndPage.
#ifndef OAPX1_PAGES_FLOWNODE_NODE_SETTINGS_PAGE_H_
#define OAPX1_PAGES_FLOWNODE_NODE_SETTINGS_PAGE_H_

#include <string_view>
#include <utility>
#include <vector>

#include "host/page.h"
#include "editing/node_form_options.h"

namespace oapx1 {

class tvwortqflowjiedia : public Page {
 public:
  // Binds the request, runs the include initialisers, saves a posted node
  // (save = "true"), loads the node and writes the page.
  void I_init() override;
  // The toolbar: the update button; nothing for save = "del".
  void winmenu() override;
  // The node settings form; nothing for save = "del".
  void showcontent() override;

  std::vector<std::pair<std::string_view, Variant*>> fields() override;

  // Node values: the columns of the node row, with the page's defaults.
  Variant OAID, MOAID, JieDianName, BanLiType, ProcessType, TimeUnit, WaitTime, IsYiJianTotal,
      Remark, BanLiRenType, JiaoSeUserList, DaiLiIsAble, isFirst, FenFaUser, FenFaBuMen;
  // The sixteen flags of the node row, "1" or "0".
  Variant isTaoHong, isImportWord, isQianMing, isYinZhang, isChaKanHenJi, isXiuDingJiLu, IsRecMark,
      isWordProtect, isYanZhengQianMing, IsPrint, isLocalSave, youjiantixing, iszhuanban, isgoutong,
      isFenFa, isBoHui;
  // Derived values: the model's form and body-text type, the handler list as
  // the form edits it, and the display names of the three lists.
  Variant BiaoDanID, ZhengWenType, BanLiUser, BanLiUserDis, FenFaUserDis, FenFaBuMenDis;

 private:
  // Writes the posted settings into the node's row (no row is inserted for an
  // unknown node), sets the page message and writes the parent-reload script.
  void save_node();
  // Loads the node row into the node values with the page's defaults and
  // derives the form, the body-text type and the display names.
  void load_node();
  // The sixteen flag columns with their page variables.
  std::vector<std::pair<std::string_view, Variant*>> flag_fields();
  // The full names of the users of a ";"-separated account list, joined by ",";
  // the list loses one leading and one trailing ";" in place.
  void resolve_user_names(Variant& list, Variant& result);
  // The names of the departments of a ";"-separated id list, joined by ",".
  void resolve_department_names(Variant& list, Variant& result);
  // Runs `sql` on `recordset` and appends each row's `column` and "," to result,
  // counting rows with the page variable i.
  void append_names(Variant& recordset, std::string_view column, Variant& result);
  // Writes the options of one select of the form, the one equal to
  // `selected` marked selected.
  void write_select(const Variant& selected, FormOptions options);
};


}  // namespace oapx1

#endif  // OAPX1_PAGES_FLOWNODE_NODE_SETTINGS_PAGE_H_
