// What the directory's walks share: opening a statement the way the library
// does, node ids as keys of the visited set, and the explicit stack on which
// the downward walks run their levels in the order a recursion would.
#ifndef OAPX1_DIRECTORY_TREE_WALK_H_
#define OAPX1_DIRECTORY_TREE_WALK_H_

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "platform/data/recordset.h"
#include "platform/script/variant.h"

namespace oapx1::directory {

// A new recordset with `statement` open on the connection held by `conn`
// (cursor type 1, lock type 3). Fails as Recordset::Open does.
Variant open_recordset(const Variant& statement, const Variant& conn);

// The key of a node id in a visited set: the id as a number. Fails with 13
// when the id is not a whole number.
double node_key(const Variant& id);

// True when a check's result is True (empty and null are not).
bool is_true(const Variant& v);

// One level of a downward walk: what one call of the recursive method held.
struct Level {
  explicit Level(Variant node, Variant indent = Variant())
      : id(std::move(node)), level(std::move(indent)) {}

  Variant id;            // the node whose children this level walks
  Variant level;         // the indentation level of the renderers
  Variant rs;            // the recordset of the child rows, open while they are walked
  int64_t row = 0;       // the child row under way, from 1; 0 before the level started
  int64_t count = 0;     // the number of child rows
  bool in_child = false; // the current row's child level ran; its closing work is due
  bool done = false;     // the level has finished

  // Holds the level's child rows, open, and stands on the first.
  void open_children(Variant recordset) {
    rs = std::move(recordset);
    count = rs.as<Recordset>().RecordCount();
    row = 1;
  }
  // Goes down into the current row's child `node`, at indentation `indent`:
  // returns the child level, to run before this one goes on.
  Level enter(Variant node, Variant indent = Variant()) {
    in_child = true;
    return Level(std::move(node), std::move(indent));
  }
  // Ends the level after its last row: closes the child rows.
  std::nullopt_t finish() {
    rs.as<Recordset>().Close();
    done = true;
    return std::nullopt;
  }
  // True, once, when the current row's child level has run: the level then
  // stands on its next row, and the caller does the row's closing work.
  bool past_child() {
    if (!in_child) return false;
    in_child = false;
    rs.as<Recordset>().MoveNext();
    ++row;
    return true;
  }
};

// The indentation level of a child level: one more than `level`.
Variant next_level(const Variant& level);

// Runs a recursive walk on an explicit stack. `step(level)` runs a level from
// where it stood up to its next child level, which it returns (setting
// in_child), or to its end (setting done). `guard(body)` runs one such piece
// under the method's failure handler and returns false when it failed; a
// failed level ends there and its parent goes on, as after a failed call.
template <class Step, class Guard>
void walk_down(Level root, Step&& step, Guard&& guard) {
  std::vector<Level> stack;
  stack.push_back(std::move(root));
  while (!stack.empty()) {
    std::optional<Level> child;
    const bool ok = guard([&] { child = step(stack.back()); });
    if (!ok || stack.back().done) {
      stack.pop_back();
      continue;
    }
    if (child) stack.push_back(std::move(*child));
  }
}

}  // namespace oapx1::directory

#endif  // OAPX1_DIRECTORY_TREE_WALK_H_
