// The choices of the node settings form's selects: the values the form can
// post for each of them and the text it shows. The form writes its options
// from this table, and the editing rules check posted values and word stored
// ones with it, so that the three agree.
#ifndef OAPX1_EDITING_NODE_FORM_OPTIONS_H_
#define OAPX1_EDITING_NODE_FORM_OPTIONS_H_

#include <span>
#include <string_view>

namespace oapx1 {

// One option of a select: what it posts and what it shows.
struct FormOption {
  const char* value;  // the option's value attribute, posted when chosen
  const char* text;   // the option's text
};

// 办理方式 (BanLiType).
inline constexpr FormOption kHandlingOptions[] = {{"1", "办理式"}, {"3", "分发式"}};
// 激活方式 (ProcessType).
inline constexpr FormOption kActivationOptions[] = {{"1", "并行"}, {"2", "会签"}};
// 办理信息 (IsYiJianTotal), in the form's commented-out rows.
inline constexpr FormOption kOpinionOptions[] = {{"1", "允许查看"}, {"0", "不允许查看"}};
// 后续流程 (IsGenZong), in the form's commented-out rows; no column holds it.
inline constexpr FormOption kFollowOptions[] = {{"1", "允许跟踪"}, {"0", "不允许跟踪"}};
// The unit of 停留时间 (TimeUnit), in the form's commented-out rows.
inline constexpr FormOption kTimeUnitOptions[] = {{"不限", "不限"}, {"时", "时"}, {"天", "天"},
                                                  {"周", "周"},     {"月", "月"}, {"年", "年"}};
// 节点类型 (isFirst), in the form's commented-out rows.
inline constexpr FormOption kNodeTypeOptions[] = {{"1", "开始节点"}, {"0", "中间节点"}, {"3", "可结束流程节点"}};

// The options of a select as a span, for the functions that take any of them.
using FormOptions = std::span<const FormOption>;

}  // namespace oapx1

#endif  // OAPX1_EDITING_NODE_FORM_OPTIONS_H_
