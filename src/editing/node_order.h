// The nodes of a workflow model in the order its node list shows them, and
// the changes the model page makes to them: a node added after another or at
// the end, moved up or down, removed. Ids never change: the order is kept in
// OAPX1_NodeOrder (a node without a line there comes after those with one,
// by id), apart from the node table that other pages read by id. Each change
// is one transaction with the model's row locked, checked against the list
// the poster was shown, and recorded in the history with who, when, from
// where and what.
#ifndef OAPX1_EDITING_NODE_ORDER_H_
#define OAPX1_EDITING_NODE_ORDER_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "editing/node_history.h"
#include "editing/node_rows.h"
#include "platform/script/variant.h"

namespace oapx1 {

// The name a node added on the model page starts with.
inline constexpr char kNewNodeName[] = "新节点";
// The most characters a model's, a form's or a node's name takes.
inline constexpr size_t kNameCharacters = 200;

// Who makes a change on the model pages, as the history records it.
struct Actor {
  std::string account;  // login name
  std::string name;     // full name, as it is now
  std::string address;  // the client address the user signed in from
};

// What a change on the model pages came to.
struct ModelChange {
  std::string refusal;  // the message that refuses it (nothing changed); "" when it was made
  int64_t id = 0;       // the node or model it made, for an add, a create or a copy
};

// The statement that reads `columns` (of the node table, aliased `j`) of the
// nodes of model `model`, in the list's order.
std::string ordered_nodes_sql(int64_t model, std::string_view columns = "j.*");

// Every column of the nodes of model `model`, in the list's order; empty for
// a model without nodes. Fails as the data layer does.
std::vector<NodeRow> read_model_nodes(const Variant& conn, int64_t model);

// The version of a node list as shown: its nodes' ids and names in order.
// A change posted from a list of another version is refused.
std::string node_list_version(const std::vector<NodeRow>& nodes);

// `name` with its leading and trailing white space (ASCII and the ideographic
// space) removed; "" for a refusal-free name, else the message refusing it
// under `caption`: blank, longer than kNameCharacters, or holding a control
// character. Never fails.
std::string check_name(std::string_view caption, std::string& name);

// The id a posted item names, or the message refusing it under `caption`
// when it is not a whole number.
std::string check_id(std::string_view caption, std::string_view item, int64_t& id);

// Runs `body` in one write transaction on `conn` with the row of model
// `model` locked (on SQLite the database's write lock): committed when it
// returns "", rolled back when it returns a refusal or throws. Returns what
// `body` returned. Fails as the data layer does, nothing then changed.
std::string in_model_write(const Variant& conn, int64_t model, const std::function<std::string()>& body);

// The id a new row of `table` (key `key`) is given, taken now: on SQLite
// one past the largest ever given, counting those the history names in
// `history_column` (a removed row's id is never given again); on PostgreSQL
// the next of the key's identity, which never gives a number twice. Call it
// inside the change's transaction. Fails as the data layer does.
int64_t next_free_id(const Variant& conn, std::string_view table, std::string_view key,
                     std::string_view history_column);

// Appends the history line of a change made on the model pages to node
// `node` (0 for the model itself) of model `model` (0 for none) by `actor`.
// Fails as the data layer does.
void record_change(const Variant& conn, const Actor& actor, int64_t model, int64_t node, std::string_view outcome,
                   std::string remark, std::vector<ColumnChange> changes);

// Writes the order of model `model`'s nodes as `ids` (positions 1, 2, ...).
void write_node_order(const Variant& conn, int64_t model, const std::vector<int64_t>& ids);

// Adds a node to the model `model` (a posted id), after the node `after`
// (a posted id; "" for the end), with kNewNodeName and the node page's
// defaults. `shown` is the node_list_version the poster was shown ("": no
// check). Refused for an id that is no whole number, a model that does not
// exist, an `after` that is not its node, or a list changed since shown.
// Fails as the data layer does.
ModelChange add_node(const Variant& conn, const Actor& actor, std::string_view model, std::string_view after,
                     std::string_view shown);

// Moves the node `node` (a posted id) one place up (`up`) or down; refused
// as add_node, and for a node already first or last. Fails as the data layer does.
ModelChange move_node(const Variant& conn, const Actor& actor, std::string_view node, bool up,
                      std::string_view shown);

// Removes the node `node` (a posted id) and its order line; its history
// line keeps every value it had. Refused as add_node. Fails as the data layer does.
ModelChange remove_node(const Variant& conn, const Actor& actor, std::string_view node, std::string_view shown);

}  // namespace oapx1

#endif  // OAPX1_EDITING_NODE_ORDER_H_
