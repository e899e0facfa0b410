#include "editing/posted_values.h"

#include "platform/text/ascii.h"
#include "platform/text/utf8.h"

namespace oapx1 {
namespace {

// Where a node column's value comes from when the node form saves it.
enum class OnForm {
  kShown,  // the form shows it and posts what it holds
  kReset,  // the form does not show it; every save sets it anew (the check
           // boxes it leaves out to "0", the rest to the form's fixed value)
  kKept,   // the form does not show it; a save keeps what is stored
};

// A node column as the form and the history page know it.
struct NodeColumn {
  const char* column;   // the column of OA_Flow_Model_JieDian
  const char* item;     // the posted text item saved in it; null when none is
  const char* caption;  // the form's caption, or a plain name when the form does not show it
  size_t length;        // the most characters it takes from a post; 0 with no item
  OnForm on_form = OnForm::kShown;
};

// A name, a code or number, and a ';'-list of accounts or departments (a
// list of every account of a large organisation still fits).
constexpr size_t kName = 200, kCode = 50, kList = 65535;

constexpr NodeColumn kColumns[] = {
    {"JieDianName", "JieDianName", "节点名称", kName},
    {"BanLiType", "BanLiType", "办理方式", kCode},
    {"ProcessType", "ProcessType", "激活方式", kCode},
    {"TimeUnit", "TimeUnit", "时间单位", kCode, OnForm::kKept},
    {"WaitTime", "WaitTime", "等待时间", kCode, OnForm::kKept},
    {"BanLiRenType", "BanLiRenType", "办理人类型", kCode, OnForm::kReset},
    {"JiaoSeUserList", "CurrentJieDianYongHu", "办理人", kList},
    {"FenFaUser", "FenFaUser", "分发用户", kList},
    {"FenFaBuMen", "FenFaBuMen", "分发部门", kList},
    {"DaiLiIsAble", nullptr, "允许代理", 0, OnForm::kReset},
    {"IsYiJianTotal", nullptr, "查看意见", 0, OnForm::kReset},
    {"isFirst", nullptr, "节点类型", 0, OnForm::kKept},
    {"isChaKanHenJi", nullptr, "短信提醒", 0},
    {"youjiantixing", nullptr, "邮件提醒", 0},
    {"iszhuanban", nullptr, "允许转办", 0},
    {"isgoutong", nullptr, "允许沟通", 0},
    {"isFenFa", nullptr, "允许分发", 0},
    {"isBoHui", nullptr, "允许驳回", 0},
    {"isTaoHong", nullptr, "套红", 0, OnForm::kReset},
    {"isImportWord", nullptr, "导入正文", 0, OnForm::kReset},
    {"isQianMing", nullptr, "签名", 0, OnForm::kReset},
    {"isYinZhang", nullptr, "盖章", 0, OnForm::kReset},
    {"isXiuDingJiLu", nullptr, "修订记录", 0, OnForm::kReset},
    {"IsRecMark", nullptr, "保留痕迹", 0, OnForm::kReset},
    {"isWordProtect", nullptr, "正文保护", 0, OnForm::kReset},
    {"isYanZhengQianMing", nullptr, "验证签名", 0, OnForm::kReset},
    {"IsPrint", nullptr, "允许打印", 0, OnForm::kReset},
    {"isLocalSave", nullptr, "本地保存", 0, OnForm::kReset},
    {"Remark", nullptr, "备注", 0, OnForm::kKept},
    {"MOAID", nullptr, "所属流程模型", 0, OnForm::kKept},
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

std::string column_label(std::string_view column) {
  const NodeColumn* c = find_column(column);
  if (!c) return std::string(column);
  switch (c->on_form) {
    case OnForm::kShown:
      return c->caption;
    case OnForm::kReset:
      return std::string(c->caption) + "（表单不显示，每次保存时重置）";
    case OnForm::kKept:
      break;
  }
  return std::string(c->caption) + "（表单不显示）";
}

std::string value_label(std::string_view column, const std::string& value) {
  // The choices of the form's (and its hidden rows') select boxes.
  struct Choice {
    const char* column;
    const char* value;
    const char* text;
  };
  static constexpr Choice kChoices[] = {
      {"BanLiType", "1", "办理式"},       {"BanLiType", "3", "分发式"},       {"ProcessType", "1", "并行"},
      {"ProcessType", "2", "会签"},       {"IsYiJianTotal", "1", "允许查看"}, {"IsYiJianTotal", "0", "不允许查看"},
      {"isFirst", "1", "开始节点"},       {"isFirst", "0", "中间节点"},       {"isFirst", "3", "可结束流程节点"},
  };
  for (const Choice& c : kChoices) {
    if (ascii_iequals(c.column, column) && value == c.value) return std::string(c.text) + "（" + value + "）";
  }
  const NodeColumn* c = find_column(column);
  const bool check_box = c && !c->item && !ascii_iequals(column, "IsYiJianTotal") &&
                         !ascii_iequals(column, "isFirst") && !ascii_iequals(column, "Remark") &&
                         !ascii_iequals(column, "MOAID");
  if (check_box && (value == "1" || value == "0")) return value == "1" ? "是" : "否";
  return value;
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
