#include "platform/data/postgres_send_again.h"

#include <algorithm>
#include <utility>

#include "platform/data/db_backend.h"

namespace oapx1 {

using pg::ResultPtr;

void PgSendAgain::note_read(uint64_t reads, const std::string& key, bool miss) {
  if (recording_.reads != reads) {
    if (!recording_.first.empty() && !recording_.after.empty()) {
      followers_.insert(recording_.first, std::move(recording_.after), kFollowersKept);
    }
    recording_ = Recording{reads, {}, {}};
  }
  if (recording_.first.empty()) {
    if (miss) recording_.first = key;
  } else if (key != recording_.first && recording_.after.size() < kMaxFollowers &&
             std::find(recording_.after.begin(), recording_.after.end(), key) == recording_.after.end()) {
    recording_.after.push_back(key);
  }
}

std::vector<PgSendAgain::Answer> PgSendAgain::send(
    uint64_t reads, const std::string& first, PGconn* conn, pg::Deadline deadline,
    const std::function<const std::string*(const std::string&)>& statement_name) {
  if (sent_again_ == reads) return {};  // once per request
  sent_again_ = reads;
  std::vector<std::string>* after = followers_.find(first);
  if (!after) return {};
  struct Out {
    std::string key;
    std::string statement;  // the prepared statement's name
    const PgSentRead* sent;
  };
  std::vector<Out> out;
  auto add = [&](const std::string& key) {
    const PgSentRead* sent = sent_.find(key);
    if (!sent) return false;
    const std::string* name = statement_name(sent->statement);
    if (!name) return false;
    out.push_back(Out{key, *name, sent});
    return true;
  };
  if (!add(first)) return {};
  for (const std::string& key : *after) add(key);
  if (out.size() < 2 || PQenterPipelineMode(conn) != 1) return {};
  size_t queued = 0;
  for (const Out& o : out) {
    std::vector<const char*> values;
    for (const auto& v : o.sent->values) values.push_back(v ? v->c_str() : nullptr);
    if (PQsendQueryPrepared(conn, o.statement.c_str(), static_cast<int>(values.size()), values.data(), nullptr,
                            nullptr, 0) != 1) {
      break;
    }
    ++queued;
  }
  PQpipelineSync(conn);
  pg::round_trips.fetch_add(1, std::memory_order_relaxed);
  std::vector<ResultPtr> results;
  for (size_t i = 0; i < queued; ++i) {
    // The statement's text, before the key's parameter types.
    const std::string_view sql = std::string_view(out[i].sent->statement).substr(0, out[i].sent->statement.find('\x1f'));
    results.push_back(pg::next_result(conn, deadline, sql));
    // Each query's results end with a null.
    for (int n = 0; n < 4; ++n) {
      ResultPtr extra = pg::next_result(conn, deadline, sql);
      if (!extra) break;
    }
  }
  // The sync's own result, then out of the pipeline.
  for (int n = 0; n < 4; ++n) {
    ResultPtr r = pg::next_result(conn, deadline, "SYNC");
    if (r && PQresultStatus(r.get()) == PGRES_PIPELINE_SYNC) break;
  }
  if (PQexitPipelineMode(conn) != 1) raise_db_error(DbErrorKind::kOther, PQerrorMessage(conn));
  std::vector<Answer> answers;
  for (size_t i = 0; i < results.size(); ++i) {
    if (PQresultStatus(results[i].get()) != PGRES_TUPLES_OK) continue;
    answers.push_back(Answer{out[i].key, std::move(results[i])});
  }
  return answers;
}

}  // namespace oapx1
