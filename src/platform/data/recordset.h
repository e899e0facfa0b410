// The data access objects' recordset stand-in. A recordset reads its whole
// result at Open, so RecordCount is exact at once; the current row can be
// changed and written back by its table's key, and rows can be added.
#ifndef OAPX1_PLATFORM_DATA_RECORDSET_H_
#define OAPX1_PLATFORM_DATA_RECORDSET_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/script/variant.h"

namespace oapx1 {

class Connection;
struct RecordsetData;

class Recordset : public Object {
 public:
  Recordset();
  ~Recordset() override;
  Recordset(Recordset&&) noexcept;
  Recordset& operator=(Recordset&&) noexcept;

  // Runs `sql` (the application's dialect) on the open connection held by
  // `conn` and reads every row; the cursor stands on the first row. Cursor and
  // lock type are accepted as the page passes them (1 keyset, 3 optimistic).
  // Fails with the provider's number and message for an invalid statement,
  // 3705 when already open, 3704 when the connection is closed.
  void Open(const Variant& sql, const Variant& conn, int cursor_type = 0, int lock_type = 1);
  // The number of rows of the result.
  int64_t RecordCount() const;
  // True when the cursor has passed the last row (or there is none); fails with
  // 3704 when closed. Spelled Eof, not EOF, which the C library takes as a macro.
  bool Eof() const;
  // True when the result has no row (the cursor never stands before the first).
  bool Bof() const;
  // Moves to the next row, writing a changed current row first; fails with
  // 3021 when already past the last.
  void MoveNext();
  // Moves to the first row, writing a changed current row first.
  void MoveFirst();

  // The column's value in the current row; a database null reads as null,
  // columns declared as dates read as dates. Names are case-insensitive.
  // Fails with 3265 for an unknown column, 3021 without a current row.
  Variant field(std::string_view name) const;
  Variant field(int index) const;
  // The number of columns, and a column's name by position.
  int field_count() const;
  std::string field_name(int index) const;

  // Assigns a column of the current row; written by the next Update.
  void set_field(std::string_view name, Variant value);
  // Starts a new row and makes it current; written by the next Update.
  void AddNew();
  // Writes the current row: after AddNew, inserts it and stores the key the
  // database assigned in the key column; otherwise updates the changed columns
  // by the row's key. Needs a result read from one table that includes its key.
  void Update();
  // Releases the result; fails with 3704 when not open.
  void Close();
  // True between Open and Close.
  bool is_open() const;

 private:
  std::unique_ptr<RecordsetData> d_;  // the result, the cursor and pending changes
};

}  // namespace oapx1

#endif  // OAPX1_PLATFORM_DATA_RECORDSET_H_
