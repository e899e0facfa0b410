// An organisation brought in from one CSV file (UTF-8, or GBK): departments
// by path and accounts, one a row, under the header
// login,name,department,mobile,state. The file is first turned into a plan,
// row by row (what each row adds, changes or leaves, and every fault with
// its line), which a dry run prints and a real run applies in one
// transaction: all of it or, at any fault, none.
#ifndef OAPX1_ORGANISATION_DIRECTORY_IMPORT_H_
#define OAPX1_ORGANISATION_DIRECTORY_IMPORT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "organisation/directory_store.h"

namespace oapx1 {

// A file larger than this many bytes, or of more rows than this under its
// header, is refused as a whole.
inline constexpr size_t kMaxImportBytes = 16u << 20;
inline constexpr size_t kMaxImportRows = 50'000;

// How an import runs.
struct ImportOptions {
  bool dry_run = false;             // plan and report only; nothing is written
  bool deactivate_missing = false;  // disable the active accounts the file does not name
  bool force = false;               // apply even when nodes are left with no one to handle them
};

// One line of the report: what a row does, or a fault.
struct ImportLine {
  size_t line = 0;   // the file's line (1 for the header); 0 for an account the file does not name
  std::string text;  // "add department 总部/财务部", "change user lisi: ...", "leave user wangwu", ...
};

// What an import would do or did.
struct ImportOutcome {
  std::string encoding;              // what the file was read as: "UTF-8" or "GBK"
  std::vector<ImportLine> report;    // per row, in file order, then the accounts it disables for missing
  std::vector<ImportLine> errors;    // every fault, by line; any fault means nothing is written
  std::vector<NodeLists> nodes;        // the nodes read to check the accounts it disables
  std::vector<StrandedNode> stranded;  // the nodes left with no active handler or recipient
  size_t departments_added = 0;
  size_t users_added = 0;
  size_t users_changed = 0;
  size_t users_left = 0;
  size_t users_deactivated = 0;      // of them, disabled for missing from the file
  bool applied = false;              // true when written (a real run without errors, and
                                     // without stranded nodes or with `force`)
};

// Imports the CSV file `bytes` into the directory of `store` as `options`
// say. Never deletes anything; a new account has no password (it cannot sign
// in before one is set). Faults of the file, and refusals, come back in the
// outcome (errors, stranded); fails only as the database does, with nothing
// written. Running it again on the same file changes nothing.
ImportOutcome import_directory(DirectoryStore& store, std::string_view bytes, const ImportOptions& options);

}  // namespace oapx1

#endif  // OAPX1_ORGANISATION_DIRECTORY_IMPORT_H_
