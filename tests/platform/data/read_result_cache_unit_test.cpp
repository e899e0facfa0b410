// The kept-result cache on its own, without an engine: what a write, a
// version change and the bounds do to the results it hands out.
#include "platform/data/read_result_cache.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace oapx1 {
namespace {

// A result of `rows` one-column rows.
std::shared_ptr<const DbResult> result_of(size_t rows) {
  auto result = std::make_shared<DbResult>();
  for (size_t i = 0; i < rows; ++i) result->rows.push_back({Variant(static_cast<long long>(i))});
  return result;
}

using Step = std::function<void(ReadResultCache&)>;

// Writes to the named tables, as a statement of the connection would.
Step write_to(std::vector<std::string> names) {
  return [names](ReadResultCache& kept) { kept.wrote(*kept.tables(names, false)); };
}

// One result read from `reads` at version 1 is kept, beside one read from
// another table; after `after`, the next look-up at `version` gives it, or
// gives nothing.
TEST(ReadResultCache, a_kept_result_lasts_until_a_write_to_its_tables_or_a_version_change) {
  struct Case {
    const char* what;
    std::vector<std::string> reads;  // empty: may read every table
    Step before;                     // before the result is read and kept
    Step after;                      // between keeping and the look-up
    int64_t version;                 // at the look-up
    bool handed_out, others_kept;
  };
  const Step nothing = [](ReadResultCache&) {};
  const Case cases[] = {
      {"nothing happened", {"t_a"}, nothing, nothing, 1, true, true},
      {"a write to the table it read", {"t_a"}, nothing, write_to({"t_a"}), 1, false, true},
      {"a write to one of the tables it read", {"t_a", "t_b"}, nothing, write_to({"t_c", "t_b"}), 1, false,
       true},
      {"a write to another table", {"t_a"}, nothing, write_to({"t_b"}), 1, true, true},
      {"a write before it was read", {"t_a"}, write_to({"t_a"}), nothing, 1, true, true},
      {"a write that may reach any table", {"t_a"}, nothing,
       [](ReadResultCache& kept) { kept.wrote(*kept.tables({"t_b"}, true)); }, 1, false, false},
      {"a write naming no table", {"t_a"}, nothing,
       [](ReadResultCache& kept) { kept.wrote(*kept.tables({}, false)); }, 1, false, false},
      {"a read of any table, then a write to some table", {}, nothing, write_to({"t_z"}), 1, false, true},
      {"the database at another version", {"t_a"}, nothing, nothing, 2, false, false},
      {"everything forgotten", {"t_a"}, nothing, [](ReadResultCache& kept) { kept.forget(); }, 1, false, false},
      {"a look-up at another version and back", {"t_a"}, nothing,
       [](ReadResultCache& kept) { kept.find("other", 2); }, 1, false, false},
  };
  for (const Case& c : cases) {
    ReadResultCache kept;
    c.before(kept);
    const auto result = result_of(1);
    ASSERT_EQ(kept.find("q", 1), nullptr) << c.what;
    kept.keep("q", 1, result, kept.tables(c.reads, false));
    kept.keep("elsewhere", 1, result_of(1), kept.tables({"t_elsewhere"}, false));
    c.after(kept);
    EXPECT_EQ(kept.find("q", c.version), c.handed_out ? result : nullptr) << c.what;
    // A change of version or a write that may reach anything drops the rest too.
    EXPECT_EQ(kept.find("elsewhere", c.version) != nullptr, c.others_kept) << c.what;
  }
}

// At most so many results, the least recently used dropped first, and none
// of more rows than the bound.
TEST(ReadResultCache, results_are_bounded_in_number_and_rows) {
  struct Case {
    const char* what;
    size_t max_entries, max_rows;
    std::vector<std::pair<std::string, size_t>> kept;  // key, rows, in order of keeping
    std::string touched;                              // looked up after the first two are kept
    std::vector<std::string> present, absent;
  };
  std::vector<std::pair<std::string, size_t>> many;
  for (int i = 0; i <= 128; ++i) many.emplace_back("k" + std::to_string(i), 1);
  const Case cases[] = {
      {"the least recently kept goes", 2, 10, {{"a", 1}, {"b", 1}, {"c", 1}}, "", {"b", "c"}, {"a"}},
      {"a look-up makes it recently used", 2, 10, {{"a", 1}, {"b", 1}, {"c", 1}}, "a", {"a", "c"}, {"b"}},
      {"rows up to the bound", 2, 3, {{"a", 3}, {"b", 4}}, "", {"a"}, {"b"}},
      {"an empty result", 2, 3, {{"a", 0}}, "", {"a"}, {}},
      {"by default 128 results", ReadResultCache::kDefaultMaxEntries, ReadResultCache::kDefaultMaxRows, many, "",
       {"k1", "k128"}, {"k0"}},
      {"by default 1000 rows", ReadResultCache::kDefaultMaxEntries, ReadResultCache::kDefaultMaxRows,
       {{"a", 1000}, {"b", 1001}}, "", {"a"}, {"b"}},
  };
  for (const Case& c : cases) {
    ReadResultCache kept(c.max_entries, c.max_rows);
    for (size_t i = 0; i < c.kept.size(); ++i) {
      kept.keep(c.kept[i].first, 1, result_of(c.kept[i].second), kept.tables({"t"}, false));
      if (i == 1 && !c.touched.empty()) kept.find(c.touched, 1);
    }
    for (const std::string& key : c.present) EXPECT_NE(kept.find(key, 1), nullptr) << c.what << ": " << key;
    for (const std::string& key : c.absent) EXPECT_EQ(kept.find(key, 1), nullptr) << c.what << ": " << key;
  }
}

// Different statements or bound values never share a key, however their
// texts run together; the same ones always do.
TEST(ReadResultCache, keys_tell_every_statement_and_value_apart) {
  auto key = [](const std::string& sql, const std::vector<DbParam>& params) {
    std::string k = "left over";
    ReadResultCache::make_key(sql, params, k);
    return k;
  };
  const std::string q = "select a from t where b = ?";
  struct Case {
    const char* what;
    std::string sql_1;
    std::vector<DbParam> params_1;
    std::string sql_2;
    std::vector<DbParam> params_2;
  };
  const Case different[] = {
      {"a number and its text", q, {DbParam::of_integer(1)}, q, {DbParam::of_text("1")}},
      {"null and the empty text", q, {DbParam::null()}, q, {DbParam::of_text("")}},
      {"values split differently", q + " and c = ?", {DbParam::of_text("ab"), DbParam::of_text("c")},
       q + " and c = ?", {DbParam::of_text("a"), DbParam::of_text("bc")}},
      {"a value that reads as another's key", q, {DbParam::of_text("x"), DbParam::of_text("y")}, q,
       {DbParam::of_text(std::string("x\0" "3:y", 5))}},
  };
  for (const Case& c : different) EXPECT_NE(key(c.sql_1, c.params_1), key(c.sql_2, c.params_2)) << c.what;
  EXPECT_EQ(key(q, {DbParam::of_text("x"), DbParam::of_integer(3)}),
            key(q, {DbParam::of_text("x"), DbParam::of_integer(3)}));
}

// Which reads may be kept, judged from the engine's text: literals, quoted
// names and comments are passed over, and a call is a name before "(",
// whatever spaces or comments stand between.
TEST(ReadDependence, a_read_is_kept_only_when_its_answer_depends_on_the_data_alone) {
  struct Case {
    const char* sql;
    ReadDependence expected;
  };
  const Case cases[] = {
      {"select a from t where b = ?", ReadDependence::kData},
      {"  SELECT count(*), max(a) from t", ReadDependence::kData},
      {"with x as (select a from t) select a from x", ReadDependence::kData},
      {"/* first */ select a from t -- last", ReadDependence::kData},
      {"select 'random()', \"now()\", `time()`, [date()] from t", ReadDependence::kData},
      {"select 'it''s now()' from t where a = \"b\"\"random()\"", ReadDependence::kData},
      {"select a from t /* random() */ -- now()", ReadDependence::kData},
      {"select a from t where b in (1, 2) and lower(c) like ?", ReadDependence::kData},
      {"select random()", ReadDependence::kClock},
      {"select a from t where d < current_timestamp", ReadDependence::kClock},
      {"select now () from t", ReadDependence::kClock},
      {"select random/* a call still */() from t", ReadDependence::kClock},
      {"select a into u from t", ReadDependence::kAnything},
      {"select nextval('s')", ReadDependence::kAnything},
      {"update t set a = 1", ReadDependence::kAnything},
      {"insert into t select a from u", ReadDependence::kAnything},
      {"pragma data_version", ReadDependence::kAnything},
      {"select my_function (a) from t", ReadDependence::kAnything},
  };
  for (const Case& c : cases) EXPECT_EQ(read_dependence(c.sql), c.expected) << c.sql;
}

}  // namespace
}  // namespace oapx1
