// The dialect translator: the application's statements as each engine gets
// them, and the literals lifted out as parameters.
#include "platform/data/sql_dialect.h"

#include <gtest/gtest.h>

namespace oapx1 {
namespace {

// Parameters written compactly: t:text, i:integer, r:real-literal.
std::string describe(const std::vector<DbParam>& params) {
  std::string out;
  for (const DbParam& p : params) {
    if (!out.empty()) out += " ";
    switch (p.kind) {
      case DbParam::Kind::kText:
        out += "t:" + p.text;
        break;
      case DbParam::Kind::kInteger:
        out += "i:" + std::to_string(p.integer);
        break;
      case DbParam::Kind::kReal:
        out += "r:" + p.text;
        break;
      default:
        out += "?";
    }
  }
  return out;
}

TEST(SqlDialect, translates_the_application_dialect_without_lifting) {
  struct Case {
    const char* in;
    const char* sqlite;
    const char* postgres;
  } cases[] = {
      {"select top 1 * from OA_AnQuan", "select * from OA_AnQuan LIMIT 1",
       "select * from OA_AnQuan LIMIT 1"},
      {"SELECT DISTINCT TOP 5 UserName FROM kx_userinfor ORDER BY UserName Desc",
       "SELECT DISTINCT UserName FROM kx_userinfor ORDER BY UserName Desc LIMIT 5",
       "SELECT DISTINCT UserName FROM kx_userinfor ORDER BY UserName Desc NULLS LAST LIMIT 5"},
      {"select top (3) a from t;", "select a from t LIMIT 3;", "select a from t LIMIT 3;"},
      {"select top 2 a from t -- newest\n", "select a from t LIMIT 2 -- newest\n",
       "select a from t LIMIT 2 -- newest\n"},
      // A subquery's limit stays inside its parentheses.
      {"select * from t where id in (select top 1 id from u order by d desc) order by 2",
       "select * from t where id in (select id from u order by d desc LIMIT 1) order by 2",
       "select * from t where id in (select id from u order by d desc NULLS LAST LIMIT 1) order by 2 NULLS FIRST"},
      {"select top from t", "select top from t", "select top from t"},  // a column named top
      {"insert into [OA_Log] ([UserName]) values ('a')",
       "insert into \"OA_Log\" (\"UserName\") values ('a')",
       "insert into OA_Log (UserName) values ('a')"},
      {"select [User], [Order Date] from t", "select \"User\", \"Order Date\" from t",
       "select \"user\", \"order date\" from t"},
      {"Insert OA_Log(LogType) values ('x')", "Insert into OA_Log(LogType) values ('x')",
       "Insert into OA_Log(LogType) values ('x')"},
      {"insert [OA_Log] (a) values (1)", "insert into \"OA_Log\" (a) values (1)",
       "insert into OA_Log (a) values (1)"},
      {"INSERT OR IGNORE INTO t VALUES (1)", "INSERT OR IGNORE INTO t VALUES (1)",
       "INSERT OR IGNORE INTO t VALUES (1)"},
      {"select N'中文', n'x' from t", "select '中文', 'x' from t", "select '中文', 'x' from t"},
      {"update t set d = getdate() where a = 1",
       "update t set d = datetime('now', 'localtime') where a = 1",
       "update t set d = localtimestamp(0) where a = 1"},
      {"select isnull(a, '') , len(b), ISNULL (c,0) from t",
       "select coalesce(a, '') , length(b), coalesce (c,0) from t",
       "select coalesce(a, '') , length(b), coalesce (c,0) from t"},
      // Nothing inside a literal or a comment changes.
      {"select * from t where a = 'select top 1 [x] isnull( N''y'' getdate()' /* top 1 */",
       "select * from t where a = 'select top 1 [x] isnull( N''y'' getdate()' /* top 1 */",
       "select * from t where a = 'select top 1 [x] isnull( N''y'' getdate()' /* top 1 */"},
      {"select * from t where a like '%x%' and b in (1,2) order by c Desc",
       "select * from t where a like '%x%' and b in (1,2) order by c Desc",
       "select * from t where a COLLATE \"C\" ILIKE '%x%' and b in (1,2) order by c Desc NULLS LAST"},
      // Rows without a value sort first when ascending, as on the original
      // engine; a list's items, nested orderings and stated nulls each count.
      {"select a from t order by a, f(b, c) desc nulls first, d asc -- last\n",
       "select a from t order by a, f(b, c) desc nulls first, d asc -- last\n",
       "select a from t order by a NULLS FIRST, f(b, c) desc nulls first, d asc NULLS FIRST -- last\n"},
      {"select row_number() over (order by a) from t order by 1 limit 3; select 1 from u order by b",
       "select row_number() over (order by a) from t order by 1 limit 3; select 1 from u order by b",
       "select row_number() over (order by a NULLS FIRST) from t order by 1 NULLS FIRST limit 3; "
       "select 1 from u order by b NULLS FIRST"},
      {"select * from t where (a+b) not like 'y' escape '!'",
       "select * from t where (a+b) not like 'y' escape '!'",
       "select * from t where (a+b) COLLATE \"C\" not ILIKE 'y' escape '!'"},
      {"select t.len, x.isnull from t", "select t.len, x.isnull from t",
       "select t.len, x.isnull from t"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(translate_sql(c.in, SqlDialect::kSqlite, false).text, c.sqlite) << c.in;
    EXPECT_EQ(translate_sql(c.in, SqlDialect::kPostgres, false).text, c.postgres) << c.in;
  }
}

TEST(SqlDialect, lifts_literals_in_value_positions_only) {
  struct Case {
    const char* in;
    const char* sqlite;
    const char* params;
  } cases[] = {
      {"select * from t where a = 'x' and b = 5", "select * from t where a = ? and b = ?",
       "t:x i:5"},
      {"select * from t where name = 'O''Brien'", "select * from t where name = ?", "t:O'Brien"},
      {"select * from t where a = N'中文'", "select * from t where a = ?", "t:中文"},
      {"select top 3 * from t where a>=-2 and b<>1.50 order by 2",
       "select * from t where a>=? and b<>? order by 2 LIMIT 3", "i:-2 r:1.50"},
      {"select * from t where a in (1, -2, 'x') and b in (select c from u)",
       "select * from t where a in (?, ?, ?) and b in (select c from u)", "i:1 i:-2 t:x"},
      {"Insert T(a, b, c) values (1, 'two', 3.5), (4, 'x', 0)",
       "Insert into T(a, b, c) values (?, ?, ?), (?, ?, ?)", "i:1 t:two r:3.5 i:4 t:x i:0"},
      // Numbers outside value positions shape the statement and stay.
      {"select a + 1 from t where b = c * 2 group by 1 limit 10 offset 5",
       "select a + 1 from t where b = c * 2 group by 1 limit 10 offset 5", ""},
      {"select * from t where a in (1 + 2)", "select * from t where a in (1 + 2)", ""},
      {"select * from t where a in (1), f(x, (2))", "select * from t where a in (?), f(x, (2))", "i:1"},
      {"select * from t where a = 0x1F or b = 99999999999999999999",
       "select * from t where a = 0x1F or b = 99999999999999999999", ""},
      {"update t set a = 'x', b = 2 where c like 'y%'", "update t set a = ?, b = ? where c like ?",
       "t:x i:2 t:y%"},
      {"delete from t where a = 'x'", "delete from t where a = ?", "t:x"},
      // Where the grammar wants a literal, it stays one.
      {"select a as 'alias', b 'other' from t", "select a as 'alias', b 'other' from t", ""},
      {"select case when a = 1 then 'y' else 'n' end from t",
       "select case when a = ? then ? else ? end from t", "i:1 t:y t:n"},
      // Statements other than reading and writing keep their literals.
      {"create table t (a text default 'x' check (a <> 'y'))",
       "create table t (a text default 'x' check (a <> 'y'))", ""},
      {"update t set a = 'x'; delete from t where b = 1",
       "update t set a = 'x'; delete from t where b = 1", ""},
  };
  for (const Case& c : cases) {
    TranslatedSql t = translate_sql(c.in, SqlDialect::kSqlite);
    EXPECT_EQ(t.text, c.sqlite) << c.in;
    EXPECT_EQ(describe(t.params), c.params) << c.in;
  }
}

TEST(SqlDialect, numbers_postgres_placeholders_in_order) {
  TranslatedSql t = translate_sql(
      "select top 1 * from [OA_Flow_Model_JieDian] where OAID = 3 and JieDianName <> 'a'",
      SqlDialect::kPostgres);
  EXPECT_EQ(t.text, "select * from OA_Flow_Model_JieDian where OAID = $1 and JieDianName <> $2 LIMIT 1");
  EXPECT_EQ(describe(t.params), "i:3 t:a");
  EXPECT_FALSE(t.multiple_statements);
}

TEST(SqlDialect, statements_of_one_shape_share_their_text) {
  const TranslatedSql a = translate_sql("select * from t where id = 1 and n = 'a'", SqlDialect::kSqlite);
  const TranslatedSql b = translate_sql("select * from t where id = 22 and n = 'bb'", SqlDialect::kSqlite);
  EXPECT_EQ(a.text, b.text);
  EXPECT_NE(describe(a.params), describe(b.params));
}

TEST(SqlDialect, marks_scripts_of_several_statements) {
  EXPECT_TRUE(translate_sql("create table a (x); create table b (y);", SqlDialect::kSqlite)
                  .multiple_statements);
  EXPECT_FALSE(translate_sql("select 1; -- done\n", SqlDialect::kSqlite).multiple_statements);
  EXPECT_FALSE(translate_sql("select ';' from t", SqlDialect::kSqlite).multiple_statements);
}

}  // namespace
}  // namespace oapx1
