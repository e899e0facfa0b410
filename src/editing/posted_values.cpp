#include "editing/posted_values.h"

#include <vector>

#include "editing/rows.h"
#include "editing/node_form_options.h"
#include "platform/text/ascii.h"
#include "platform/text/utf8.h"

namespace oapx1 {
namespace {

using editing::joined;

// Where the node form has a column.
enum class OnForm {
  kShown,  // a field the editor sees and edits
  kKept,   // not shown, and a save of the form leaves it as it is
  kReset,  // not shown, and every save of the page sets it anew
};

// What a posted value of a column must be.
enum class Takes {
  kNothing,  // no posted item is saved in it
  kName,     // free text, not blank
  kOption,   // one of `options`
  kWhole,    // a whole number of 0 to kMostWaiting
  kFlag,     // a check box: "on" when ticked, else not posted; ticked for a stored "1"
  kFlagUnlessZero,  // the same, shown ticked for any stored value but "0"
  kList,     // a ';'-list, checked against the directory (posted_lists.h)
};

// The handler types the page knows: 1 and 3 name users, 2 is what a node
// without one reads as. The form itself posts 3.
constexpr FormOption kHandlerTypes[] = {{"1", "1"}, {"2", "2"}, {"3", "3"}};

// A node column as the form, the checks and the history know it.
struct NodeColumn {
  const char* column;     // the column of OA_Flow_Model_JieDian
  const char* item;       // the posted item saved in it; null when none is
  const char* label;      // the form's label, or our plain name when it shows none
  size_t length;          // the most characters it takes from a post; 0 for none
  OnForm on_form;         // where the form has it
  Takes takes;            // what a posted value must be
  FormOptions options{};  // a select's options
};

// A name, a code or number, and a ';'-list of accounts or departments (a
// list of every account of a large organisation still fits).
constexpr size_t kName = 200, kCode = 50, kList = 65535;
// The largest WaitTime: the form's field takes ten digits.
constexpr std::string_view kMostWaiting = "9999999999";

constexpr NodeColumn kColumns[] = {
    {"OAID", nullptr, "节点编号", 0, OnForm::kKept, Takes::kNothing},
    {"MOAID", nullptr, "流程模型", 0, OnForm::kKept, Takes::kNothing},
    {"JieDianName", "JieDianName", "节点名称", kName, OnForm::kShown, Takes::kName},
    {"BanLiType", "BanLiType", "办理方式", kCode, OnForm::kShown, Takes::kOption, kHandlingOptions},
    {"ProcessType", "ProcessType", "激活方式", kCode, OnForm::kShown, Takes::kOption, kActivationOptions},
    {"TimeUnit", "TimeUnit", "时间单位", kCode, OnForm::kKept, Takes::kOption, kTimeUnitOptions},
    {"WaitTime", "WaitTime", "停留时间", kCode, OnForm::kKept, Takes::kWhole},
    {"IsYiJianTotal", nullptr, "办理信息", 0, OnForm::kReset, Takes::kNothing, kOpinionOptions},
    {"Remark", nullptr, "备注", 0, OnForm::kKept, Takes::kNothing},
    {"BanLiRenType", "BanLiRenType", "办理人类型", kCode, OnForm::kReset, Takes::kOption, kHandlerTypes},
    {"JiaoSeUserList", "CurrentJieDianYongHu", "选择用户", kList, OnForm::kShown, Takes::kList},
    {"DaiLiIsAble", "DaiLiIsAble", "允许代理", 0, OnForm::kReset, Takes::kFlag},
    {"isFirst", nullptr, "节点类型", 0, OnForm::kKept, Takes::kNothing, kNodeTypeOptions},
    {"FenFaUser", "FenFaUser", "默认分发用户", kList, OnForm::kShown, Takes::kList},
    {"FenFaBuMen", "FenFaBuMen", "默认分发部门", kList, OnForm::kShown, Takes::kList},
    {"isTaoHong", "isTaoHong", "允许套红", 0, OnForm::kReset, Takes::kFlag},
    {"isImportWord", "isImportWord", "允许导入正文", 0, OnForm::kReset, Takes::kFlag},
    {"isQianMing", "isQianMing", "允许签名", 0, OnForm::kReset, Takes::kFlag},
    {"isYinZhang", "isYinZhang", "允许盖章", 0, OnForm::kReset, Takes::kFlag},
    {"isChaKanHenJi", "isChaKanHenJi", "短信提醒", 0, OnForm::kShown, Takes::kFlag},
    {"isXiuDingJiLu", "isXiuDingJiLu", "保留修订记录", 0, OnForm::kReset, Takes::kFlag},
    {"IsRecMark", "IsRecMark", "记录痕迹", 0, OnForm::kReset, Takes::kFlag},
    {"isWordProtect", "isWordProtect", "保护正文", 0, OnForm::kReset, Takes::kFlag},
    {"isYanZhengQianMing", "isYanZhengQianMing", "验证签名", 0, OnForm::kReset, Takes::kFlag},
    {"IsPrint", "IsPrint", "允许打印", 0, OnForm::kReset, Takes::kFlag},
    {"isLocalSave", "isLocalSave", "允许本地保存", 0, OnForm::kReset, Takes::kFlag},
    {"youjiantixing", "youjiantixing", "邮件提醒", 0, OnForm::kShown, Takes::kFlagUnlessZero},
    {"iszhuanban", "iszhuanban", "允许转办", 0, OnForm::kShown, Takes::kFlag},
    {"isgoutong", "isgoutong", "允许沟通", 0, OnForm::kShown, Takes::kFlag},
    {"isFenFa", "isFenFa", "允许分发", 0, OnForm::kShown, Takes::kFlag},
    {"isBoHui", "isBoHui", "允许驳回", 0, OnForm::kShown, Takes::kFlag},
    // Not a column of the node's row: its place in the model's node list
    // (OAPX1_NodeOrder), as the history names a move.
    {"Position", nullptr, "顺序", 0, OnForm::kKept, Takes::kNothing},
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

// The options of a select as the refusal lists them: "1（办理式）、3（分发式）".
std::string option_list(FormOptions options) {
  std::vector<std::string> listed;
  for (const FormOption& o : options) {
    listed.push_back(std::string_view(o.value) == o.text ? std::string(o.value)
                                                          : std::string(o.value) + "（" + o.text + "）");
  }
  return joined(listed, "、");
}

// What is wrong with the posted `value` of column `c` (posted, not empty), or
// "" when the form could have sent it.
std::string value_problem(const NodeColumn& c, std::string_view value) {
  const std::string posted = "，提交的是“" + std::string(value) + "”";
  switch (c.takes) {
    case Takes::kName:
      return blank_text(value) ? column_caption(c.column) + "不能只有空格" : "";
    case Takes::kOption:
      for (const FormOption& o : c.options) {
        if (value == o.value) return "";
      }
      return column_caption(c.column) + "只能是 " + option_list(c.options) + posted;
    case Takes::kWhole:
      if (ascii_digits(value, kMostWaiting.size())) return "";
      return column_caption(c.column) + "须是 0 到 " + std::string(kMostWaiting) + " 的整数" + posted;
    case Takes::kFlag:
    case Takes::kFlagUnlessZero:
      return value == "on" ? "" : column_caption(c.column) + "是复选框，勾选时提交“on”" + posted;
    case Takes::kNothing:
    case Takes::kList:
      return "";
  }
  return "";
}

}  // namespace

bool has_control_character(std::string_view value, bool tab) {
  for (unsigned char c : value) {
    if ((c < 0x20 && !(tab && c == '\t')) || c == 0x7f) return true;
  }
  return false;
}

size_t column_length(std::string_view column) {
  const NodeColumn* c = find_column(column);
  return c ? c->length : 0;
}

std::string column_label(std::string_view column) {
  const NodeColumn* c = find_column(column);
  return c ? std::string(c->label) : std::string(column);
}

std::string column_caption(std::string_view column) {
  const NodeColumn* c = find_column(column);
  return c ? std::string(c->label) + "（" + c->column + "）" : std::string(column);
}

bool column_on_form(std::string_view column) {
  const NodeColumn* c = find_column(column);
  return c && c->on_form == OnForm::kShown;
}

bool column_reset_by_save(std::string_view column) {
  const NodeColumn* c = find_column(column);
  return c && c->on_form == OnForm::kReset;
}

std::string column_value_words(std::string_view column, std::string_view value) {
  const NodeColumn* c = find_column(column);
  // A check box as the form shows it.
  if (c && c->takes == Takes::kFlag) return value == "1" ? "勾选" : "未勾选";
  if (c && c->takes == Takes::kFlagUnlessZero) return value != "0" ? "勾选" : "未勾选";
  if (value.empty()) return "（空）";
  if (!c) return std::string(value);
  for (const FormOption& o : c->options) {
    if (value == o.value) return o.text;
  }
  return std::string(value);
}

std::string history_label(std::string_view column) {
  const NodeColumn* c = find_column(column);
  if (!c) return std::string(column);
  switch (c->on_form) {
    case OnForm::kShown:
      return c->label;
    case OnForm::kReset:
      return std::string(c->label) + "（表单不显示，每次保存时重置）";
    case OnForm::kKept:
      break;
  }
  return std::string(c->label) + "（表单不显示）";
}

std::string check_posted_lengths(const Request& posted) {
  for (const NodeColumn& c : kColumns) {
    if (!c.item || c.length == 0) continue;
    const size_t length = characters(posted.item(c.item).str());
    if (length <= c.length) continue;
    return "系统提示：" + column_caption(c.column) + "最多 " + std::to_string(c.length) + " 个字符，提交了 " +
           std::to_string(length) + " 个。设置未保存！";
  }
  return "";
}

std::string check_posted_values(const Request& posted) {
  std::vector<std::string> controls, problems;
  for (const NodeColumn& c : kColumns) {
    if (!c.item) continue;
    const std::string value = posted.item(c.item).str();
    if (value.empty()) continue;
    if (has_control_character(value, c.takes == Takes::kName)) {
      controls.push_back(column_caption(c.column));
    } else if (std::string problem = value_problem(c, value); !problem.empty()) {
      problems.push_back(std::move(problem));
    }
  }
  if (!controls.empty()) {
    return "系统提示：" + joined(controls, "、") + "中有不能保存的控制字符（如 NUL、换行），设置未保存！";
  }
  if (problems.empty()) return "";
  return "系统提示：" + joined(problems, "；") + "。设置未保存！";
}

}  // namespace oapx1
