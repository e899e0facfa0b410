// The file in which workflow models travel between installations: JSON with
// a format name and version, each model by its stable key, name and form
// name, its nodes in order with every setting; accounts by login and
// departments by path, never by an id of the installation that wrote it.
//
//   {"format": "oapx1 workflow models", "version": 1,
//    "models": [{"key": "...", "name": "公司发文流程",
//                "form": {"name": "发文稿纸", "body": "Word"},
//                "nodes": [{"name": "拟稿", "BanLiType": "1", ...,
//                           "JiaoSeUserList": ["zhangsan", "lisi"],
//                           "FenFaBuMen": ["总部/财务部"], ...}, ...]}]}
//
// A node holds every column of OA_Flow_Model_JieDian but its keys and its
// model: text (or null), and the three lists as arrays (or null).
#ifndef OAPX1_EDITING_MODEL_FILE_H_
#define OAPX1_EDITING_MODEL_FILE_H_

#include <cstddef>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace oapx1 {

// The format name and the version of the file this program reads and writes.
inline constexpr char kModelFileFormat[] = "oapx1 workflow models";
inline constexpr int kModelFileVersion = 1;
// The most bytes of a file read, and the deepest nesting of its arrays and
// objects (the format itself needs 4).
inline constexpr size_t kMostModelFileBytes = 16 * 1024 * 1024;
inline constexpr int kMostModelFileDepth = 8;

// A file (or a part of one) refused: the message names the cause and, where
// there is one, the place ("模型 1 节点 3 WaitTime").
struct TransferError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// How a node column travels.
enum class CellKind {
  kText,         // text as stored
  kLogins,       // a ';'-list of logins: an array of logins
  kDepartments,  // a ';'-list of department ids: an array of department paths
};

// A node column of the file, in the table's order.
struct TransferColumn {
  const char* column;  // the column of OA_Flow_Model_JieDian
  CellKind kind;
};

// The node columns the file carries besides the name (JieDianName), in the
// table's order.
std::span<const TransferColumn> transfer_columns();

// The value of one node column in portable form.
struct Cell {
  bool null = true;                  // stored null (then nothing else counts)
  std::string text;                  // a text column's value
  std::vector<std::string> entries;  // a list column's logins or department paths
  bool operator==(const Cell&) const = default;
};

// A node in portable form.
struct PortableNode {
  std::string name;         // JieDianName
  std::vector<Cell> cells;  // by transfer_columns()
  bool operator==(const PortableNode&) const = default;
};

// A model in portable form.
struct PortableModel {
  std::string key;                  // the stable model key
  std::string name;                 // ModelName
  bool has_form = false;            // the model names a form
  std::string form;                 // its name (OA_Flow_BiaoDan.BiaoDanName)
  std::string form_body;            // its body-text type (ZhengWenType)
  std::vector<PortableNode> nodes;  // in the model's order
};

// The file's text for `models`: two-space indented UTF-8 JSON ending in a
// line end. Equal models give equal bytes.
std::string write_model_file(std::span<const PortableModel> models);

// The models of a file's text. Throws TransferError naming the first fault:
// more than kMostModelFileBytes, text that is not UTF-8, nesting deeper than
// kMostModelFileDepth, JSON that does not parse, another format or version,
// a member of the wrong type or an unknown one, a key that is no key, a
// value longer than its column takes or holding a control character (a line
// end, a NUL; a tab only in a name), an empty list entry, a model key given
// twice.
std::vector<PortableModel> read_model_file(std::string_view text);

// True when `key` may be a model key: 1 to 64 of A-Z a-z 0-9 - _.
bool valid_model_key(std::string_view key);

}  // namespace oapx1

#endif  // OAPX1_EDITING_MODEL_FILE_H_
