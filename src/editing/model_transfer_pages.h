// The pages that offer the export and import of workflow models in the
// browser, beside the list of models.
#ifndef OAPX1_EDITING_MODEL_TRANSFER_PAGES_H_
#define OAPX1_EDITING_MODEL_TRANSFER_PAGES_H_

#include "host/page.h"

namespace oapx1 {

// Paths of the two pages below the application root; the list of models
// links to them.
inline constexpr char kModelExportPagePath[] = "flow/model/export.asp";
inline constexpr char kModelImportPagePath[] = "flow/model/import.asp";

// flow/model/export.asp?OAID=N: model N's model file (export_model_json), as
// a file to save, "model-KEY.json", when the host sends files; the model is
// given its key when it has none ("model-N.json" for a stored key that is no
// valid key). An OAID that names no model answers 404
// with a page saying so. Writes nothing but the login script to a session
// without a user.
class ModelExportPage : public Page {
 public:
  void I_init() override;
};

// flow/model/import.asp: the form that takes a model file (chosen, or pasted)
// and a map of logins and departments; posted with step=preview, the
// difference the import would make (or why it is refused), with 确定, which
// posts step=apply with the digest of the difference shown. The import is
// applied only when the difference is still the one shown (else it is shown
// again to be confirmed), in one transaction, recorded under the signed-in
// user and the address of the session's sign-in. A file that cannot be read
// is refused with the reason, nothing changed. Writes nothing but the login
// script to a session without a user.
class ModelImportPage : public Page {
 public:
  void I_init() override;
};

}  // namespace oapx1

#endif  // OAPX1_EDITING_MODEL_TRANSFER_PAGES_H_
