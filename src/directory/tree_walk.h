// What the directory's walks share: node ids as keys of the visited set, the
// explicit stack on which the downward walks run their levels in the order a
// recursion would, and the one driver of a downward tree walk, to which each
// tree passes its own work.
#ifndef OAPX1_DIRECTORY_TREE_WALK_H_
#define OAPX1_DIRECTORY_TREE_WALK_H_

#include <cstdint>
#include <optional>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/data/recordset.h"
#include "platform/script/variant.h"

namespace oapx1::directory {

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

// The closing work of a walk whose rows have none: nothing.
struct NoClose {
  void operator()(Level&) const {}
};

// What one downward tree walk does of its own; walk_tree does the rest. Each
// hook is called with the level under way (its node in `id`, its indentation
// in `level`). A hook that fails ends its level as described at walk_tree.
//   open(level) -> Variant: the work on the level's node itself (a statement
//     of the node's own rows, a deletion), then the open recordset of the
//     node's child rows. The node is already marked visited.
//   row(level, rows, child) -> bool: the work for the current child row, whose
//     child node `child` has not been visited, before its level runs: false
//     skips the row.
//   close(level): the closing work of the current row after its child level
//     ran (or failed), before the next row.
// `child_column` names the column of a child row that holds the child node;
// with `indented`, a child level's indentation is one more than its parent's,
// otherwise it is empty.
template <class Open, class Row, class Close = NoClose>
struct TreeHooks {
  std::string_view child_column;
  bool indented = false;
  Open open;
  Row row;
  Close close = {};
};

// Walks the tree below `root` depth-first in pre-order on an explicit stack:
// a level marks its node visited (an id that is not a whole number fails
// there, before any hook), opens its child rows (hooks.open), and for
// each row whose child node was not visited before does hooks.row, walks the
// child's level, then does hooks.close; after its last row it closes the child
// rows. So a node is never visited twice, and the output is in the order the
// recursive method wrote it. `guard(body)` runs each piece of a level under
// the method's failure handler, as at walk_down: a failed level ends there and
// its parent goes on with its closing work and next row.
template <class Open, class Row, class Close, class Guard>
void walk_tree(Level root, const TreeHooks<Open, Row, Close>& hooks, Guard&& guard) {
  std::unordered_set<double> visited;
  auto step = [&](Level& c) -> std::optional<Level> {
    if (c.row == 0) {
      visited.insert(node_key(c.id));
      c.open_children(hooks.open(c));
    }
    Recordset& rows = c.rs.as<Recordset>();
    if (c.past_child()) hooks.close(c);
    for (; c.row <= c.count; rows.MoveNext(), ++c.row) {
      Variant child = rows.field(hooks.child_column);
      if (visited.count(node_key(child))) continue;
      if (!hooks.row(c, rows, child)) continue;
      return c.enter(std::move(child), hooks.indented ? next_level(c.level) : Variant());
    }
    return c.finish();
  };
  walk_down(std::move(root), step, guard);
}

}  // namespace oapx1::directory

#endif  // OAPX1_DIRECTORY_TREE_WALK_H_
