// Code page 936 both ways over 10 KB, 100 KB and 1 MiB: valid GBK text against
// inputs made wholly of bad bytes (0xFF, a lead byte with a trail no code has,
// a four-byte code beyond the last character), and UTF-8 text against invalid
// UTF-8; and a posted login form whose user name is bad bytes. A bad byte
// should cost about what a good one does: throughput stays flat as the size
// grows, and the bad inputs stay within a small factor of the valid ones.
#include <benchmark/benchmark.h>

#include <initializer_list>
#include <string>

#include "platform/text/codepage.h"
#include "server/form.h"

namespace {

std::string repeat(const std::string& piece, size_t size) {
  std::string text;
  text.reserve(size + piece.size());
  while (text.size() < size) text += piece;
  text.resize(size);
  return text;
}

// Chinese text with a little ASCII, as a form field or a page holds it.
const std::string& chinese() {
  static const std::string text = "流程节点审批意见，办理人：张三 (复核) 备注与说明。\r\n";
  return text;
}

// What each benchmark argument after the size names.
enum Input : int64_t { kValid, kFF, kBadTrail, kBadFourByte };

std::string gbk_input(int64_t kind, size_t size) {
  switch (kind) {
    case kFF: return std::string(size, '\xFF');
    case kBadTrail: return repeat("\x81\xFF", size);
    case kBadFourByte: return repeat("\xFE\x39\xFE\x39", size);
    default: return repeat(oapx1::utf8_to_gbk(chinese()), size);
  }
}

void BM_gb18030_to_utf8(benchmark::State& state) {
  const std::string bytes = gbk_input(state.range(1), static_cast<size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(oapx1::gb18030_to_utf8(bytes));
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_utf8_to_gbk(benchmark::State& state) {
  const size_t size = static_cast<size_t>(state.range(0));
  const std::string text = state.range(1) == kValid ? repeat(chinese(), size) : std::string(size, '\xFF');
  for (auto _ : state) benchmark::DoNotOptimize(oapx1::utf8_to_gbk(text));
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_parse_form(benchmark::State& state) {
  const std::string body =
      "username=" + gbk_input(state.range(1), static_cast<size_t>(state.range(0))) + "&password=x";
  for (auto _ : state) benchmark::DoNotOptimize(oapx1::parse_form(body));
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

constexpr int64_t kKb = 1024;

using Benchmark = benchmark::internal::Benchmark;

void sizes(Benchmark* b, std::initializer_list<int64_t> inputs) {
  b->ArgNames({"bytes", "input"});
  for (const int64_t input : inputs)
    for (const int64_t size : {10 * kKb, 100 * kKb, kKb * kKb}) b->Args({size, input});
  b->Unit(benchmark::kMicrosecond);
}

}  // namespace

BENCHMARK(BM_gb18030_to_utf8)->Apply([](Benchmark* b) {
  sizes(b, {kValid, kFF, kBadTrail, kBadFourByte});
});
BENCHMARK(BM_utf8_to_gbk)->Apply([](Benchmark* b) { sizes(b, {kValid, kFF}); });
BENCHMARK(BM_parse_form)->Apply([](Benchmark* b) { sizes(b, {kValid, kFF}); });
