#include "editing/posted_values.h"

#include "platform/text/ascii.h"
#include "platform/text/utf8.h"

namespace oapx1 {
namespace {

// A node column as the form and the history page know it.
struct NodeColumn {
  const char* column;   // the column of OA_Flow_Model_JieDian
  const char* item;     // the posted text item saved in it; null when none is
  const char* caption;  // the form's caption
  size_t length;        // the most characters it takes from a post; 0 with no item
};

// A name, a code or number, and a ';'-list of accounts or departments (a
// list of every account of a large organisation still fits).
constexpr size_t kName = 200, kCode = 50, kList = 65535;

constexpr NodeColumn kColumns[] = {
    {"JieDianName", "JieDianName", "节点名称", kName},
    {"BanLiType", "BanLiType", "办理方式", kCode},
    {"ProcessType", "ProcessType", "激活方式", kCode},
    {"TimeUnit", "TimeUnit", "时间单位", kCode},
    {"WaitTime", "WaitTime", "等待时间", kCode},
    {"BanLiRenType", "BanLiRenType", "办理人类型", kCode},
    {"JiaoSeUserList", "CurrentJieDianYongHu", "办理人", kList},
    {"FenFaUser", "FenFaUser", "分发用户", kList},
    {"FenFaBuMen", "FenFaBuMen", "分发部门", kList},
    {"DaiLiIsAble", nullptr, "允许代理", 0},
    {"IsYiJianTotal", nullptr, "查看意见", 0},
    {"isFirst", nullptr, "节点类型", 0},
    {"Remark", nullptr, "备注", 0},
    {"isChaKanHenJi", nullptr, "短信提醒", 0},
    {"youjiantixing", nullptr, "邮件提醒", 0},
    {"iszhuanban", nullptr, "允许转办", 0},
    {"isgoutong", nullptr, "允许沟通", 0},
    {"isFenFa", nullptr, "允许分发", 0},
    {"isBoHui", nullptr, "允许驳回", 0},
    {"IsPrint", nullptr, "允许打印", 0},
    {"isTaoHong", nullptr, "套红", 0},
    {"isImportWord", nullptr, "导入正文", 0},
    {"isQianMing", nullptr, "签名", 0},
    {"isYinZhang", nullptr, "盖章", 0},
    {"isXiuDingJiLu", nullptr, "修订记录", 0},
    {"IsRecMark", nullptr, "保留痕迹", 0},
    {"isWordProtect", nullptr, "正文保护", 0},
    {"isYanZhengQianMing", nullptr, "验证签名", 0},
    {"isLocalSave", nullptr, "本地保存", 0},
    // Not a column of the node's row: its place in the model's node list
    // (OAPX1_NodeOrder), as the history names a move.
    {"Position", nullptr, "顺序", 0},
};

const NodeColumn* find_column(std::string_view column) {
  for (const NodeColumn& c : kColumns) {
    if (ascii_iequals(c.column, column)) return &c;
  }
  return nullptr;
}

// The characters of a UTF-8 text (a byte that is no character counts as one).
size_t characters(std::string_view text) {
  size_t count = 0;
  for (size_t pos = 0; pos < text.size(); ++count) utf8_next(text, pos);
  return count;
}

}  // namespace

size_t column_length(std::string_view column) {
  const NodeColumn* c = find_column(column);
  return c ? c->length : 0;
}

std::string column_caption(std::string_view column) {
  const NodeColumn* c = find_column(column);
  return c ? std::string(c->caption) + "（" + c->column + "）" : std::string(column);
}

std::string column_words(std::string_view column) {
  const NodeColumn* c = find_column(column);
  return c ? std::string(c->caption) : std::string(column);
}

std::string check_posted_lengths(const Request& posted) {
  for (const NodeColumn& c : kColumns) {
    if (!c.item) continue;
    const size_t length = characters(posted.item(c.item).str());
    if (length <= c.length) continue;
    return "系统提示：" + column_caption(c.column) + "最多 " + std::to_string(c.length) + " 个字符，提交了 " +
           std::to_string(length) + " 个。设置未保存！";
  }
  return "";
}

}  // namespace oapx1
