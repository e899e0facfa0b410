// Workflow models and their forms as the list of models shows and changes
// them: each model's name, form, nodes, last change and the nodes that cannot
// be saved as they stand; a model created, renamed, copied with all its
// nodes, or deleted with them (its export kept in the history line); a form
// created. Ids never change and are never given twice. Every change is one
// transaction, recorded in the history (OAPX1_NodeHistory, under the model).
#ifndef OAPX1_EDITING_MODELS_H_
#define OAPX1_EDITING_MODELS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "editing/node_order.h"
#include "platform/script/variant.h"

namespace oapx1 {

// A node that cannot be saved as it stands, with the reason.
struct NodeProblem {
  int64_t node = 0;     // its id
  std::string name;     // its name
  std::string problem;  // stored_node_problems of it
};

// One row of the list of models.
struct ModelSummary {
  int64_t id = 0;                     // OA_Flow_Model_Header.OAID
  std::string name;                   // ModelName
  std::string form;                   // the form's name; "" when it names none that exists
  std::vector<std::string> nodes;     // its nodes' names, in the list's order
  std::vector<NodeProblem> problems;  // its nodes that cannot be saved as they stand
  std::string last_account;           // who made the newest recorded change ("" when none)
  std::string last_name;              // that user's full name then
  std::string last_when;              // when, "yyyy-mm-dd hh:nn:ss"
  std::string version;                // model_version: posted back by a rename or a delete
};

// Every model, by name then id, with its form, nodes, problems (the
// directory read once for all) and last change (the newest line of the
// history under it that is no refusal). Six statements whatever the number
// of models. Fails as the data layer does.
std::vector<ModelSummary> list_models(const Variant& conn);

// The one model `model`, as list_models shows it; none when it does not exist.
std::optional<ModelSummary> read_model(const Variant& conn, int64_t model);

// One form (OA_Flow_BiaoDan) and the number of models that use it.
struct FormSummary {
  int64_t id = 0;
  std::string name;       // BiaoDanName
  std::string body_type;  // ZhengWenType
  int64_t models = 0;     // models whose BiaoDanID it is
};

// Every form, by name then id. Fails as the data layer does.
std::vector<FormSummary> list_forms(const Variant& conn);

// Creates a form named `name` (checked by check_name, trimmed) with the body
// type `body_type` ("Word" when empty; at most 50 characters). Fails as the
// data layer does.
ModelChange create_form(const Variant& conn, const Actor& actor, std::string name, std::string body_type);

// Creates an empty model named `name` on the form `form` (a posted id of an
// existing form), with a new model key. Refused for a bad name or form.
ModelChange create_model(const Variant& conn, const Actor& actor, std::string name, std::string_view form);

// Renames the model `model` (a posted id); `shown` is the model_version the
// poster was shown ("": no check). Refused for a bad id or name, a model that
// does not exist or has changed since shown.
ModelChange rename_model(const Variant& conn, const Actor& actor, std::string_view model, std::string name,
                         std::string_view shown);

// Copies the model `model` (a posted id) and all its nodes, every setting and
// their order, under the name `name` and a new key; new ids throughout.
ModelChange copy_model(const Variant& conn, const Actor& actor, std::string_view model, std::string name);

// Deletes the model `model` (a posted id), its nodes, their order and its
// key; the history line keeps its model file (export_model_json), from which an
// import brings it back. Refused as rename_model.
ModelChange delete_model(const Variant& conn, const Actor& actor, std::string_view model, std::string_view shown);

// The version of a model as shown: its name and nodes (ids and names, in order).
std::string model_version(const ModelSummary& model);

// A new stable model key: 32 random hexadecimal digits in the 8-4-4-4-12 form.
std::string new_model_key();

}  // namespace oapx1

#endif  // OAPX1_EDITING_MODELS_H_
