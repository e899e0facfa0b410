#include "platform/data/recordset.h"

#include <cctype>
#include <optional>

#include "platform/data/connection.h"
#include "platform/data/db_backend.h"

namespace oapx1 {
namespace {

// Numbers the data access objects carry for these failures.

constexpr const char* kClosedMessage = "Operation is not allowed when the object is closed.";
constexpr const char* kNoKeyMessage =
    "Insufficient key column information for updating or refreshing.";

}  // namespace

struct RecordsetData {
  std::shared_ptr<Object> connection_holder;  // keeps the connection alive while open
  Connection* connection = nullptr;           // the connection the result was read on
  DbColumns columns;                          // the result's columns
  // Every row of the result as read, possibly shared with the engine
  // connection's kept results; copied into `own_rows` before the first change.
  std::shared_ptr<const DbResult> read;
  std::vector<std::vector<Variant>> own_rows;  // the rows once changed here
  bool owns_rows = false;                      // `own_rows` holds the rows
  size_t position = 0;                        // the current row; rows.size() at EOF
  bool updatable = true;                      // opened with a lock type that allows writes
  bool adding = false;                        // the current row came from AddNew, not yet written
  // Per column: assigned, not yet written; sized at the first write, so a
  // recordset that is only read allocates nothing for it.
  std::vector<std::optional<Variant>> pending;
  bool has_pending = false;                     // any entry of `pending` is set

  const std::vector<std::vector<Variant>>& rows() const { return owns_rows ? own_rows : read->rows; }
  std::vector<std::vector<Variant>>& changed_rows() {
    if (!owns_rows) {
      own_rows = read->rows;
      owns_rows = true;
      read.reset();
    }
    return own_rows;
  }
  bool has_current() const { return position < rows().size(); }
  void ensure_pending() {
    if (pending.size() != columns.size()) pending.resize(columns.size());
  }
  void clear_pending() {
    for (auto& p : pending) p.reset();
    has_pending = false;
  }
};

Recordset::Recordset() = default;

Recordset::~Recordset() = default;
Recordset::Recordset(Recordset&&) noexcept = default;
Recordset& Recordset::operator=(Recordset&&) noexcept = default;

void Recordset::Open(const Variant& sql, const Variant& conn, int /*cursor_type*/, int lock_type) {
  if (d_) throw ScriptError(err::kObjectOpen, "Operation is not allowed when the object is open.");
  auto d = std::make_unique<RecordsetData>();
  if (conn.is_text()) {
    // A connection string in place of a connection: the recordset opens its own.
    auto own = std::make_shared<Connection>();
    own->Open(conn);
    d->connection = own.get();
    d->connection_holder = std::move(own);
  } else {
    d->connection = &conn.as<Connection>();
    d->connection_holder = conn.object_ptr();
  }
  std::shared_ptr<const DbResult> result =
      sql.is_text() ? d->connection->session().query_shared(sql.text())
                    : d->connection->session().query_shared(sql.to_text());
  // A statement that returns no rows leaves the recordset closed, as it does
  // on the original platform.
  if (result->columns.empty()) return;
  d->columns = result->columns;
  d->read = std::move(result);
  // Lock type 1 is read-only; every other lock type allows writing rows back.
  d->updatable = lock_type != 1;
  d_ = std::move(d);
}

int64_t Recordset::RecordCount() const {
  if (!d_) throw ScriptError(err::kObjectClosed, kClosedMessage);
  return static_cast<int64_t>(d_->rows().size());
}

bool Recordset::Eof() const {
  if (!d_) throw ScriptError(err::kObjectClosed, kClosedMessage);
  return !d_->has_current();
}

bool Recordset::Bof() const {
  if (!d_) throw ScriptError(err::kObjectClosed, kClosedMessage);
  return d_->rows().empty();
}

void Recordset::MoveNext() {
  if (!d_) throw ScriptError(err::kObjectClosed, kClosedMessage);
  // Leaving a changed row writes it, as the original does.
  if (d_->has_pending || d_->adding) Update();
  if (!d_->has_current()) {
    throw ScriptError(err::kNoCurrentRecord,
                      "Either BOF or EOF is True, or the current record has been deleted.");
  }
  ++d_->position;
}

void Recordset::MoveFirst() {
  if (!d_) throw ScriptError(err::kObjectClosed, kClosedMessage);
  if (d_->has_pending || d_->adding) Update();
  d_->position = 0;
}

namespace {

int find_column(const RecordsetData& d, std::string_view name) {
  const int index = d.columns.find(name);
  if (index >= 0) return index;
  throw ScriptError(err::kItemNotFound,
                    "Item cannot be found in the collection corresponding to the requested name "
                    "or ordinal.");
}

void check_index(const RecordsetData& d, int index) {
  if (index < 0 || static_cast<size_t>(index) >= d.columns.size()) {
    throw ScriptError(err::kItemNotFound,
                      "Item cannot be found in the collection corresponding to the requested "
                      "name or ordinal.");
  }
}

void check_current(const RecordsetData& d) {
  if (!d.has_current()) {
    throw ScriptError(err::kNoCurrentRecord,
                      "Either BOF or EOF is True, or the current record has been deleted. "
                      "Requested operation requires a current record.");
  }
}

void check_updatable(const RecordsetData& d) {
  if (!d.updatable) {
    throw ScriptError(err::kNotUpdatable,
                      "Current Recordset does not support updating. This may be a limitation of "
                      "the provider, or of the selected locktype.");
  }
}

}  // namespace

Variant Recordset::field(std::string_view name) const {
  if (!d_) throw ScriptError(err::kObjectClosed, kClosedMessage);
  return field(find_column(*d_, name));
}

Variant Recordset::field(int index) const {
  if (!d_) throw ScriptError(err::kObjectClosed, kClosedMessage);
  check_index(*d_, index);
  check_current(*d_);
  if (d_->has_pending) {
    const auto& pending = d_->pending[static_cast<size_t>(index)];
    if (pending) return *pending;
  }
  return d_->rows()[d_->position][static_cast<size_t>(index)];
}

int Recordset::field_count() const {
  if (!d_) throw ScriptError(err::kObjectClosed, kClosedMessage);
  return static_cast<int>(d_->columns.size());
}

std::string Recordset::field_name(int index) const {
  if (!d_) throw ScriptError(err::kObjectClosed, kClosedMessage);
  check_index(*d_, index);
  return d_->columns[static_cast<size_t>(index)].name;
}

void Recordset::set_field(std::string_view name, Variant value) {
  if (!d_) throw ScriptError(err::kObjectClosed, kClosedMessage);
  check_updatable(*d_);
  const int index = find_column(*d_, name);
  check_current(*d_);
  if (value.is_object()) throw ScriptError(err::kTypeMismatch, "Type mismatch");
  // A date column takes a text that reads as a date as that date, so it is
  // stored in the column's one form ("YYYY-MM-DD HH:MM:SS") and sorts as a date.
  if (d_->columns[static_cast<size_t>(index)].is_date && value.is_text()) {
    if (auto when = parse_datetime(value.text())) value = Variant(*when);
  }
  d_->ensure_pending();
  d_->pending[static_cast<size_t>(index)] = std::move(value);
  d_->has_pending = true;
}

void Recordset::AddNew() {
  if (!d_) throw ScriptError(err::kObjectClosed, kClosedMessage);
  check_updatable(*d_);
  if (d_->has_pending || d_->adding) Update();
  auto& rows = d_->changed_rows();
  rows.emplace_back(d_->columns.size(), Variant::null());
  d_->position = rows.size() - 1;
  d_->adding = true;
}

void Recordset::Update() {
  if (!d_) throw ScriptError(err::kObjectClosed, kClosedMessage);
  check_updatable(*d_);
  RecordsetData& d = *d_;
  if (!d.adding && !d.has_pending) return;
  d.ensure_pending();
  check_current(d);

  // The one table the row is written to: that of the assigned columns (of
  // every read column for a row added without values).
  std::string table_id;
  bool single = true;
  for (size_t i = 0; i < d.columns.size(); ++i) {
    const std::string& t = d.columns[i].table;
    if (d.has_pending ? !d.pending[i] : t.empty()) continue;
    if (t.empty() || (!table_id.empty() && t != table_id)) single = false;
    if (table_id.empty()) table_id = t;
  }
  if (!single || table_id.empty()) throw ScriptError(err::kProviderFailure, kNoKeyMessage);

  DbSession& session = d.connection->session();
  const DbTable& table = session.table(table_id);
  auto column_sql = [&](size_t i) -> const std::string& {
    auto it = table.columns.find(d.columns[i].origin);
    if (it == table.columns.end()) throw ScriptError(err::kProviderFailure, kNoKeyMessage);
    return it->second;
  };
  std::optional<size_t> key_index;
  for (size_t i = 0; i < d.columns.size() && !table.key.empty(); ++i) {
    if (d.columns[i].table == table_id && column_sql(i) == table.key) {
      key_index = i;
      break;
    }
  }

  std::vector<DbParam> params;
  std::vector<size_t> written;
  params.reserve(d.columns.size() + 1);
  written.reserve(d.columns.size());
  std::string names;
  std::string values;
  names.reserve(32 * d.columns.size());
  for (size_t i = 0; i < d.columns.size(); ++i) {
    if (!d.pending[i]) continue;
    params.push_back(param_from_variant(*d.pending[i]));
    written.push_back(i);
    if (!names.empty()) names += ", ";
    names += column_sql(i);
    if (d.adding) {
      if (!values.empty()) values += ", ";
      values += placeholder(session.dialect(), params.size());
    } else {
      names += " = ";
      names += placeholder(session.dialect(), params.size());
    }
  }

  std::vector<Variant>& row = d.changed_rows()[d.position];
  if (d.adding) {
    // The new row comes back as the database stored it: its assigned key and
    // the defaults of columns the page did not assign.
    std::vector<size_t> returned;
    std::string returning;
    for (size_t i = 0; i < d.columns.size(); ++i) {
      if (d.columns[i].table != table_id) continue;
      returned.push_back(i);
      returning += (returning.empty() ? "" : ", ") + column_sql(i);
    }
    std::string sql = "INSERT INTO " + table.sql_name +
                      (names.empty() ? " DEFAULT VALUES" : " (" + names + ") VALUES (" + values + ")");
    if (!returning.empty()) sql += " RETURNING " + returning;
    DbResult result = session.run(sql, params);
    for (size_t i : written) row[i] = *d.pending[i];
    if (!result.rows.empty()) {
      for (size_t r = 0; r < returned.size() && r < result.rows[0].size(); ++r) {
        Variant& v = result.rows[0][r];
        if (d.columns[returned[r]].is_date) v = date_or_text(std::move(v));
        row[returned[r]] = std::move(v);
      }
    }
  } else {
    if (!key_index) throw ScriptError(err::kProviderFailure, kNoKeyMessage);
    params.push_back(param_from_variant(row[*key_index]));
    std::string sql;
    sql.reserve(names.size() + table.sql_name.size() + table.key.size() + 32);
    sql += "UPDATE ";
    sql += table.sql_name;
    sql += " SET ";
    sql += names;
    sql += " WHERE ";
    sql += table.key;
    sql += " = ";
    sql += placeholder(session.dialect(), params.size());
    DbResult result = session.run(sql, params);
    if (result.affected == 0) {
      throw ScriptError(err::kRowNotFound,
                        "Row cannot be located for updating. Some values may have been changed "
                        "since it was last read.");
    }
    for (size_t i : written) row[i] = *d.pending[i];
  }
  d.adding = false;
  d.clear_pending();
}

void Recordset::Close() {
  if (!d_) throw ScriptError(err::kObjectClosed, kClosedMessage);
  d_.reset();
}

bool Recordset::is_open() const { return d_ != nullptr; }

}  // namespace oapx1
