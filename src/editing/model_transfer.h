// Workflow models moved between installations: a model written out as a
// model file (editing/model_file.h), and a model file brought in, creating
// each model or updating the one with the same key, after showing what it
// changes in the editor's words.
//
// On an update, the file's nodes are matched with the model's by name, in
// order: the first node of the model not yet matched with the file's name
// is that node, and keeps its id (other pages refer to it). A node of the
// file that matches none is added; a node of the model the file does not
// have is kept, after the file's nodes, and named in the difference. Logins
// and department paths of the file go through the map first; one the
// installation does not know refuses the whole import.
#ifndef OAPX1_EDITING_MODEL_TRANSFER_H_
#define OAPX1_EDITING_MODEL_TRANSFER_H_

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "editing/model_file.h"
#include "editing/node_rows.h"
#include "platform/script/variant.h"

namespace oapx1 {

class Connection;

// The model `model` (OA_Flow_Model_Header.OAID) in portable form, its nodes
// in the model's order (OAPX1_NodeOrder, then by id); a model without a key
// is given one (a line of OAPX1_Model) on the open, writable connection
// `conn`. A department the directory does not know travels as "#ID". Throws
// TransferError when there is no such model; fails as the data layer does.
PortableModel export_model(const Variant& conn, int64_t model);

// The model file of model `model` alone (write_model_file of export_model):
// what `oapx1 model export` writes and what a deleted model's history line
// keeps. Fails as export_model does.
std::string export_model_json(const Variant& conn, int64_t model);

// The model file the history kept when model `model` was deleted (the newest
// such line), for `model import` to bring it back. Throws TransferError when
// the history has none; fails as the data layer does.
std::string deleted_model_file(const Variant& conn, int64_t model);

// Every model of the database, by id. Fails as the data layer does.
std::vector<int64_t> all_models(const Variant& conn);

// The model `text` names: its id (a whole number), else its key, else its
// name. Throws TransferError when none does or, for a name, several do
// (naming their ids). Fails as the data layer does.
int64_t find_model(const Variant& conn, const std::string& text);

// Logins and department paths of a file replaced by those of the
// installation it goes to; an empty replacement takes the entry out of the
// node's lists.
struct TransferMap {
  std::map<std::string, std::string> logins;       // by the file's login, in lower case
  std::map<std::string, std::string> departments;  // by the file's path
};

// The map of a map file's text (UTF-8): a line "OLD,NEW" maps a login, a
// line "dept:OLD PATH,NEW PATH" a department path (split at the first
// comma); blank lines and lines starting with '#' are skipped. Throws
// TransferError naming the line of a line without a comma, an entry with a
// control character or ';', or a file over 1 MB.
TransferMap read_transfer_map(std::string_view text);

// Who an import is recorded under in the history.
struct ImportActor {
  std::string account;  // the login
  std::string name;     // the full name
  std::string address;  // where from: the client address, or "命令行"
};

// One node of a model an import plans for.
struct NodeStep {
  int64_t node = 0;                    // the node; 0 for one the import adds
  std::optional<PortableNode> before;  // the node as it is (none for a new one)
  NodeRow stored;                      // its name and transfer columns as stored, null as "" (the history's "before")
  std::optional<PortableNode> after;   // the node as the file has it, mapped (none: kept as it is)
  int64_t stored_position = 0;         // its line of OAPX1_NodeOrder; 0 when it has none
  int64_t shown_position = 0;          // its place in the node list now; 0 for a new node
  int64_t position = 0;                // its place after the import
};

// One model of the file and what the import does to it.
struct ModelStep {
  PortableModel file;                      // the model as the file has it
  int64_t model = 0;                       // the model with the file's key; 0 when the import adds it
  bool stale_key = false;                  // the key names a model that no longer exists
  std::string name_before;                 // its name now
  std::optional<std::string> form_before;  // its form's name now; none when it names none
  int64_t form = 0;                        // the form the model is to name; 0 for none or one to add
  std::vector<NodeStep> nodes;             // the file's nodes in order, then the kept ones
};

// What an import of a file would do, planned against the database as it is.
struct ImportPlan {
  std::vector<ModelStep> models;                 // in the file's order
  std::vector<std::string> lines;                // the difference in the editor's words, one change a line
  std::vector<std::string> unknown_logins;       // the file's logins (after the map) the directory lacks
  std::vector<std::string> unknown_departments;  // its department paths the directory lacks, or holds twice
  std::string digest;                            // equal for equal plans: what was shown is what is applied
  bool changes = false;                          // whether applying it would change anything

  // The message that refuses the plan, listing the unknown logins and
  // departments; "" when it may be applied.
  std::string refusal() const;
};

// Plans the import of `models` into the database of `conn`, reading only.
// Fails as the data layer does.
ImportPlan plan_import(const Variant& conn, const std::vector<PortableModel>& models, const TransferMap& map);

// Applies `plan` (made by plan_import, which it must not refuse) to the
// database of `conn` in the transaction the caller holds open: models,
// forms, nodes, their order and a history line (outcome kOutcomeImported,
// under `actor`) for each node it changes and for each model it adds or
// whose name or form it changes (node 0). Fails as the data layer does; the caller then
// rolls back.
void apply_import(const Variant& conn, const ImportPlan& plan, const ImportActor& actor);

// How far import_models goes.
enum class ImportMode {
  kDryRun,  // plans only; nothing is written
  kApply,   // applies a plan that may be applied
};

// Reads the model file `text`, plans its import and, with kApply and a plan
// that may be applied (and, with `expected` not empty, whose digest is
// `expected`: the plan the user was shown), applies it in one transaction
// on `conn` (an open Connection): models, forms, nodes, their order and a
// history line (outcome kOutcomeImported) for each node it changes and for
// each model it adds or whose name or form it changes; all of it or nothing.
// On SQLite the transaction holds the database's write lock from the plan
// on; on PostgreSQL two imports of one model at once may both plan against
// the same rows (a new key then lands once, the other import failing whole). Returns
// the plan; `*applied` tells whether it was applied. Throws TransferError
// for a file that cannot be read; fails as the data layer does, with
// nothing written.
ImportPlan import_models(const Variant& conn, std::string_view text, const TransferMap& map, const ImportActor& actor,
                         ImportMode mode, bool* applied, std::string_view expected = "");

}  // namespace oapx1

#endif  // OAPX1_EDITING_MODEL_TRANSFER_H_
