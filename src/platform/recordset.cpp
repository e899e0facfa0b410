#include "platform/recordset.h"

namespace oapx1 {

struct RecordsetData {};

Recordset::Recordset() = default;
Recordset::~Recordset() = default;
void Recordset::Open(const Variant&, const Variant&, int, int) { throw ScriptError(err::kObjectClosed, "not built yet"); }
int64_t Recordset::RecordCount() const { return 0; }
bool Recordset::eof() const { return true; }
bool Recordset::bof() const { return true; }
void Recordset::MoveNext() {}
void Recordset::MoveFirst() {}
Variant Recordset::field(std::string_view) const { throw ScriptError(err::kNoCurrentRecord, "not built yet"); }
Variant Recordset::field(int) const { throw ScriptError(err::kNoCurrentRecord, "not built yet"); }
int Recordset::field_count() const { return 0; }
std::string Recordset::field_name(int) const { return {}; }
void Recordset::set_field(std::string_view, Variant) {}
void Recordset::AddNew() {}
void Recordset::Update() {}
void Recordset::Close() {}
bool Recordset::is_open() const { return false; }

}  // namespace oapx1
