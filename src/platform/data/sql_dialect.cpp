#include "platform/data/sql_dialect.h"

#include <cctype>
#include <charconv>
#include <cstdlib>
#include <initializer_list>
#include <optional>

#include "platform/data/sql_scanner.h"
#include "platform/text/ascii.h"

namespace oapx1 {

DbParam DbParam::of_integer(int64_t v, bool typed) {
  DbParam p;
  p.kind = Kind::kInteger;
  p.integer = v;
  p.typed = typed;
  return p;
}

DbParam DbParam::of_real(double v, bool typed) {
  DbParam p;
  p.kind = Kind::kReal;
  p.real = v;
  char buf[32];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  p.text.assign(buf, r.ptr);
  p.typed = typed;
  return p;
}

DbParam DbParam::of_text(std::string v, bool typed) {
  DbParam p;
  p.kind = Kind::kText;
  p.text = std::move(v);
  p.typed = typed;
  return p;
}

DbParam DbParam::of_datetime(std::string iso) {
  DbParam p;
  p.kind = Kind::kDateTime;
  p.text = std::move(iso);
  return p;
}

std::string quote_identifier(std::string_view name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

namespace {

using Tok = SqlTokenKind;
using Token = SqlToken;

bool is_one_of(std::string_view word, std::initializer_list<std::string_view> words) {
  for (std::string_view w : words) {
    if (ascii_iequals(word, w)) return true;
  }
  return false;
}

bool is_comparison(const Token& t) {
  return t.kind == Tok::kOp &&
         is_one_of(t.text, {"=", "==", "<>", "!=", "<", ">", "<=", ">=", "!<", "!>"});
}

bool is_plain_identifier(std::string_view name) {
  if (name.empty() || !(std::isalpha(static_cast<unsigned char>(name[0])) || name[0] == '_'))
    return false;
  for (char c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
  }
  return true;
}

// Words PostgreSQL reserves; a bracketed name among them must stay quoted.
bool is_postgres_reserved(std::string_view name) {
  return is_one_of(name, {"all", "analyse", "analyze", "and", "any", "array", "as", "asc",
                          "asymmetric", "both", "case", "cast", "check", "collate", "column",
                          "constraint", "create", "current_date", "current_role", "current_time",
                          "current_timestamp", "current_user", "default", "deferrable", "desc",
                          "distinct", "do", "else", "end", "except", "false", "fetch", "for",
                          "foreign", "from", "grant", "group", "having", "in", "initially",
                          "intersect", "into", "lateral", "leading", "limit", "localtime",
                          "localtimestamp", "not", "null", "offset", "on", "only", "or", "order",
                          "placing", "primary", "references", "returning", "select",
                          "session_user", "some", "symmetric", "table", "then", "to", "trailing",
                          "true", "union", "unique", "user", "using", "variadic", "when", "where",
                          "window", "with"});
}

std::string unquote(std::string_view body, char close) {
  std::string out;
  out.reserve(body.size());
  for (size_t i = 0; i < body.size(); ++i) {
    out += body[i];
    if (body[i] == close && i + 1 < body.size() && body[i + 1] == close) ++i;
  }
  return out;
}

// The value of a string literal token ('...' or N'...'), apostrophes undoubled.
std::string string_value(const Token& t) {
  std::string_view body = t.text.substr(t.kind == Tok::kNString ? 2 : 1);
  if (!body.empty() && body.back() == '\'') body.remove_suffix(1);
  return unquote(body, '\'');
}

// A numeric literal as a typed parameter; nullopt when it does not fit.
std::optional<DbParam> number_param(std::string_view sign, std::string_view digits) {
  std::string literal = std::string(sign == "-" ? "-" : "") + std::string(digits);
  if (digits.find_first_of(".eE") == std::string_view::npos) {
    int64_t v = 0;
    auto r = std::from_chars(literal.data(), literal.data() + literal.size(), v);
    if (r.ec != std::errc() || r.ptr != literal.data() + literal.size()) return std::nullopt;
    return DbParam::of_integer(v, true);
  }
  char* end = nullptr;
  const double v = std::strtod(literal.c_str(), &end);
  if (end != literal.c_str() + literal.size()) return std::nullopt;
  DbParam p = DbParam::of_real(v, true);
  p.text = std::move(literal);
  return p;
}

class Translator {
 public:
  Translator(std::string_view sql, SqlDialect dialect, bool lift)
      : tokens_(scan_sql(sql)), dialect_(dialect), lift_(lift) {}

  TranslatedSql run() {
    TranslatedSql out;
    out.multiple_statements = count_statements() > 1;
    if (out.multiple_statements) lift_ = false;
    frames_.push_back({});
    start_statement(0);
    for (size_t i = 0; i < tokens_.size(); ++i) i = emit(i);
    close_frames_to(0);
    flush_limit(frames_.back());
    out.text = std::move(text_);
    out.params = std::move(params_);
    return out;
  }

 private:
  struct Frame {
    bool value_list = false;  // "in (...)" or "values (...)": plain items are values
    bool values_tuple = false;  // a row of a "values" list; another may follow after ","
    std::string limit;        // a "top N" of this level, written as LIMIT at its end
    // PostgreSQL only: inside this level's "order by" list, and what the
    // current item of that list has said about its direction and nulls.
    bool order_by = false;
    bool item_desc = false;
    bool item_nulls = false;
  };

  int count_statements() const {
    int n = 0;
    bool open = false;
    for (const Token& t : tokens_) {
      if (t.kind == Tok::kSemicolon) {
        open = false;
      } else if (t.significant() && !open) {
        open = true;
        ++n;
      }
    }
    return n;
  }

  size_t next_sig(size_t i) const {
    for (++i; i < tokens_.size(); ++i) {
      if (tokens_[i].significant()) return i;
    }
    return tokens_.size();
  }
  // The significant token before i, or nullptr.
  const Token* prev_sig(size_t i) const {
    while (i > 0) {
      --i;
      if (tokens_[i].significant()) return &tokens_[i];
    }
    return nullptr;
  }
  const Token* at(size_t i) const { return i < tokens_.size() ? &tokens_[i] : nullptr; }
  bool word_is(const Token* t, std::initializer_list<std::string_view> words) const {
    return t && t->kind == Tok::kWord && is_one_of(t->text, words);
  }

  void start_statement(size_t i) {
    const Token* first = at(i < tokens_.size() && tokens_[i].significant() ? i : next_sig(i));
    lift_statement_ = lift_ && word_is(first, {"select", "insert", "update", "delete", "with"});
    after_values_tuple_ = false;
  }

  void put(std::string_view s, bool sig = true) {
    text_ += s;
    if (sig) last_sig_end_ = text_.size();
  }

  void put_placeholder(DbParam p) {
    params_.push_back(std::move(p));
    put(placeholder(dialect_, params_.size()));
  }

  // Ends the current "order by" item of `f` on PostgreSQL. The original engine
  // sorts rows without a value before all others (first when ascending, last
  // when descending); PostgreSQL does the opposite unless told.
  void end_order_item(Frame& f) {
    if (!f.order_by) return;
    if (!f.item_nulls) {
      const std::string_view nulls = f.item_desc ? " NULLS LAST" : " NULLS FIRST";
      text_.insert(last_sig_end_, nulls);
      last_sig_end_ += nulls.size();
    }
    f.item_desc = false;
    f.item_nulls = false;
  }

  void end_order_by(Frame& f) {
    end_order_item(f);
    f.order_by = false;
  }

  void flush_limit(Frame& f) {
    end_order_by(f);
    if (f.limit.empty()) return;
    text_.insert(last_sig_end_, " LIMIT " + f.limit);
    last_sig_end_ += 7 + f.limit.size();
    f.limit.clear();
  }

  void close_frames_to(size_t depth) {
    while (frames_.size() > depth + 1) {
      flush_limit(frames_.back());
      frames_.pop_back();
    }
  }

  // May a string literal at i become a parameter? Not where the grammar
  // wants a literal: an alias ("as 'x'", "x 'y'") or a typed literal ("date '...'").
  bool string_liftable(size_t i) const {
    if (!lift_statement_) return false;
    const Token* p = prev_sig(i);
    if (!p) return false;
    switch (p->kind) {
      case Tok::kOp:
        return p->text != ".";
      case Tok::kLParen:
      case Tok::kComma:
        return true;
      case Tok::kWord:
        return is_one_of(p->text, {"select", "where", "and", "or", "not", "like", "glob", "in",
                                   "then", "else", "when", "values", "is", "between", "set", "on",
                                   "having", "escape", "case", "distinct", "all", "exists"});
      default:
        return false;
    }
  }

  // Is the number at `number_at` (its sign, if any, at `first`) in a value position?
  bool number_liftable(size_t first, size_t number_at) const {
    if (!lift_statement_) return false;
    const Token* p = prev_sig(first);
    if (!p) return false;
    if (is_comparison(*p)) return true;
    if (frames_.back().value_list && (p->kind == Tok::kLParen || p->kind == Tok::kComma)) {
      const Token* n = at(next_sig(number_at));
      return n && (n->kind == Tok::kComma || n->kind == Tok::kRParen);
    }
    return false;
  }

  // Emits token i (and whatever it consumes); returns the last index consumed.
  size_t emit(size_t i) {
    const Token& t = tokens_[i];
    if (t.significant() && t.kind != Tok::kComma && t.kind != Tok::kLParen) {
      if (t.kind != Tok::kRParen) after_values_tuple_ = false;
    }
    switch (t.kind) {
      case Tok::kSpace:
      case Tok::kComment:
        put(t.text, false);
        return i;
      case Tok::kSemicolon:
        close_frames_to(0);
        flush_limit(frames_.back());
        put(t.text);
        start_statement(i + 1);
        return i;
      case Tok::kLParen: {
        const Token* p = prev_sig(i);
        Frame f;
        f.values_tuple = word_is(p, {"values"}) || (after_values_tuple_ && p && p->kind == Tok::kComma);
        f.value_list = f.values_tuple || word_is(p, {"in"});
        after_values_tuple_ = false;
        frames_.push_back(std::move(f));
        put(t.text);
        return i;
      }
      case Tok::kRParen: {
        bool tuple = false;
        if (frames_.size() > 1) {
          flush_limit(frames_.back());
          tuple = frames_.back().values_tuple;
          frames_.pop_back();
        }
        put(t.text);
        after_values_tuple_ = tuple;
        return i;
      }
      case Tok::kComma:
        end_order_item(frames_.back());
        put(t.text);
        return i;
      case Tok::kBracketIdent:
        put(bracket_name(t));
        return i;
      case Tok::kString:
      case Tok::kNString:
        if (string_liftable(i)) {
          put_placeholder(DbParam::of_text(string_value(t), true));
        } else {
          put(t.kind == Tok::kNString ? t.text.substr(1) : t.text);
        }
        return i;
      case Tok::kNumber:
        if (number_liftable(i, i)) {
          if (auto p = number_param("", t.text)) {
            put_placeholder(std::move(*p));
            return i;
          }
        }
        put(t.text);
        return i;
      case Tok::kOp:
        if ((t.text == "-" || t.text == "+") && i + 1 < tokens_.size()) {
          const size_t n = next_sig(i);
          if (n == i + 1 && tokens_[n].kind == Tok::kNumber && number_liftable(i, n)) {
            if (auto p = number_param(t.text, tokens_[n].text)) {
              put_placeholder(std::move(*p));
              return n;
            }
          }
        }
        put(t.text);
        return i;
      case Tok::kWord:
        return emit_word(i);
      case Tok::kQuotedIdent:
        put(t.text);
        return i;
    }
    return i;
  }

  std::string bracket_name(const Token& t) const {
    std::string_view body = t.text.substr(1);
    if (!body.empty() && body.back() == ']') body.remove_suffix(1);
    const std::string name = unquote(body, ']');
    if (dialect_ == SqlDialect::kPostgres) {
      // Unquoted, so it folds to lower case like the schema's own names.
      if (is_plain_identifier(name) && !is_postgres_reserved(name)) return name;
      return quote_identifier(ascii_lower(name));
    }
    return quote_identifier(name);
  }

  size_t emit_word(size_t i) {
    const Token& t = tokens_[i];
    const Token* prev = prev_sig(i);
    const bool qualified = prev && prev->kind == Tok::kOp && prev->text == ".";
    const size_t n1 = next_sig(i);
    const Token* next = at(n1);

    // select [distinct|all] top N  ->  LIMIT N at the end of this select
    if (ascii_iequals(t.text, "top") &&
        (word_is(prev, {"select"}) ||
         (word_is(prev, {"distinct", "all"}) && word_is(prev_sig(static_cast<size_t>(prev - tokens_.data())), {"select"})))) {
      size_t last = 0;
      std::string_view count;
      if (next && next->kind == Tok::kNumber) {
        count = next->text;
        last = n1;
      } else if (next && next->kind == Tok::kLParen) {
        const size_t n2 = next_sig(n1), n3 = next_sig(n2);
        if (at(n2) && at(n2)->kind == Tok::kNumber && at(n3) && at(n3)->kind == Tok::kRParen) {
          count = at(n2)->text;
          last = n3;
        }
      }
      if (!count.empty() && count.find_first_of(".eE") == std::string_view::npos) {
        frames_.back().limit = std::string(count);
        // Drop the space after the count too, so "select top 1 *" reads "select *".
        if (last + 1 < tokens_.size() && tokens_[last + 1].kind == Tok::kSpace) ++last;
        return last;
      }
    }

    // insert T (...)  ->  insert into T (...)
    if (ascii_iequals(t.text, "insert") && next &&
        (next->kind == Tok::kBracketIdent || next->kind == Tok::kQuotedIdent ||
         (next->kind == Tok::kWord && !is_one_of(next->text, {"into", "or"})))) {
      put(t.text);
      put(" into");
      return i;
    }

    if (!qualified && next && next->kind == Tok::kLParen) {
      if (ascii_iequals(t.text, "getdate")) {
        const size_t close = next_sig(n1);
        if (at(close) && at(close)->kind == Tok::kRParen) {
          put(dialect_ == SqlDialect::kSqlite ? "datetime('now', 'localtime')"
                                              : "localtimestamp(0)");
          return close;
        }
      }
      if (ascii_iequals(t.text, "isnull")) {
        put("coalesce");
        return i;
      }
      if (ascii_iequals(t.text, "len")) {
        put("length");
        return i;
      }
    }
    if (dialect_ == SqlDialect::kPostgres) return emit_postgres_word(i);
    put(t.text);
    return i;
  }

  // Words PostgreSQL needs told apart from the original engine's meaning.
  size_t emit_postgres_word(size_t i) {
    const Token& t = tokens_[i];
    const Token* prev = prev_sig(i);
    const Token* next = at(next_sig(i));
    Frame& f = frames_.back();
    if (f.order_by) {
      if (is_one_of(t.text, {"limit", "offset", "fetch", "for"})) {
        end_order_by(f);
      } else if (ascii_iequals(t.text, "desc")) {
        f.item_desc = true;
      } else if (ascii_iequals(t.text, "nulls")) {
        f.item_nulls = true;
      }
    } else if (ascii_iequals(t.text, "by") && word_is(prev, {"order"})) {
      put(t.text);
      f.order_by = true;
      return i;
    }
    // Text columns compare without regard to letter case through a
    // nondeterministic collation, which LIKE does not accept. The original
    // engine's LIKE ignores the case of ASCII letters only, as ILIKE does
    // under the "C" collation.
    if (ascii_iequals(t.text, "not") && word_is(next, {"like"})) {
      put("COLLATE \"C\" ");
      put(t.text);
      return i;
    }
    if (ascii_iequals(t.text, "like")) {
      if (!word_is(prev, {"not"})) put("COLLATE \"C\" ");
      put("ILIKE");
      return i;
    }
    put(t.text);
    return i;
  }

  std::vector<Token> tokens_;
  SqlDialect dialect_;
  bool lift_;
  bool lift_statement_ = false;     // the current statement reads or writes rows
  bool after_values_tuple_ = false; // just closed a tuple of a values list
  std::vector<Frame> frames_;       // one per open parenthesis, plus the statement
  std::string text_;
  size_t last_sig_end_ = 0;         // where the last significant output ends
  std::vector<DbParam> params_;
};

}  // namespace

TranslatedSql translate_sql(std::string_view sql, SqlDialect dialect, bool lift_literals) {
  return Translator(sql, dialect, lift_literals).run();
}

std::string placeholder(SqlDialect dialect, size_t number) {
  if (dialect == SqlDialect::kSqlite) return "?";
  return "$" + std::to_string(number);
}

}  // namespace oapx1
