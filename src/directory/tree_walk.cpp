#include "directory/tree_walk.h"

#include "platform/data/recordset.h"
#include "platform/script/script.h"

namespace oapx1::directory {

double node_key(const Variant& id) {
  if (id.type() == Variant::Type::kInteger) return static_cast<double>(id.integer());
  return Variant(sql_integer(id)).to_double();
}

bool is_true(const Variant& v) { return !v.is_empty() && !v.is_null() && v.to_bool(); }

Variant next_level(const Variant& level) {
  if (level.type() == Variant::Type::kInteger) return Variant(static_cast<long long>(level.integer() + 1));
  return Variant(level.to_double() + 1);
}

}  // namespace oapx1::directory
