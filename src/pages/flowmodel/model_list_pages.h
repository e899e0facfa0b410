// The list of workflow models, where signing in lands, and the small list of
// the forms the models are made on. Both change data only when a form of
// theirs is posted (their "save" item "true"); a GET only shows.
#ifndef OAPX1_PAGES_FLOWMODEL_MODEL_LIST_PAGES_H_
#define OAPX1_PAGES_FLOWMODEL_MODEL_LIST_PAGES_H_

#include <string>

#include "editing/models.h"
#include "host/page.h"

namespace oapx1 {

// Paths of the two pages below the application root.
inline constexpr char kModelListPagePath[] = "flow/model/models.asp";
inline constexpr char kFormListPagePath[] = "flow/model/forms.asp";

// flow/model/models.asp: one row per model (name opening the model page,
// form, number of nodes, last change: who and when, and a mark naming the
// nodes that cannot be saved as they stand), each with 重命名, 复制 and 删除;
// above them 新建 (name and form). `rename=M`, `copy=M` and `delete=M` show
// that action's form for model M at the top (the delete asks first, naming
// the model's nodes). A posted form (`save=true`, `do` = create, rename, copy
// or delete, with `name`, `form`, `model`, `ver`) makes the change through
// editing/models.h and shows the list with what was done or why not; a new or
// copied model then opens. On a database without models it says what to do
// first. Writes nothing but the login script to a session without a user.
class ModelListPage : public Page {
 public:
  void I_init() override;

 private:
  // Makes the posted change; the message it ends with (`refused` set for a
  // refusal), and the model to open afterwards in `*open` (0: none).
  std::string apply_post(bool& refused, int64_t* open);
  // The form of a rename, copy or delete asked for in the query, if any.
  void write_action_form(const std::vector<ModelSummary>& models);
  void write_create_form(const std::vector<FormSummary>& forms);
  void write_first_steps(bool has_forms);
  void write_rows(const std::vector<ModelSummary>& models);
};

// flow/model/forms.asp: the forms (name, body type, models using it) and 新建
// (name and body type). A posted form (`save=true`, `name`, `body`) creates
// one, shown with what was done or why not. Writes nothing but the login
// script to a session without a user.
class FormListPage : public Page {
 public:
  void I_init() override;
};

}  // namespace oapx1

#endif  // OAPX1_PAGES_FLOWMODEL_MODEL_LIST_PAGES_H_
