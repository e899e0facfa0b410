// The workflow node settings page: edits one node (a row of
// OA_Flow_Model_JieDian) of a workflow model. One object serves one request:
// the host calls I_init, which writes the whole page, then OnEndPage.
#ifndef OAPX1_PAGES_FLOWNODE_NODE_SETTINGS_PAGE_H_
#define OAPX1_PAGES_FLOWNODE_NODE_SETTINGS_PAGE_H_

#include "host/page.h"

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
};

}  // namespace oapx1

#endif  // OAPX1_PAGES_FLOWNODE_NODE_SETTINGS_PAGE_H_
