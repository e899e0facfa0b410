// Text helpers over growing texts: RemoveHtml and displaytext on 1 KB, 100 KB
// and 10 MB of page markup, and RemoveHtml on a text with an unclosed "<" near
// its start. Throughput (bytes/s) should stay flat as the size grows.
#include <benchmark/benchmark.h>

#include <string>

#include "host/page.h"
#include "platform/web/memory_intrinsics.h"

namespace {

using oapx1::Variant;

class LibraryPage : public oapx1::Page {
 public:
  void I_init() override {}
};

// Page markup with Chinese text, spaces, line breaks and script delimiters.
std::string markup(size_t size) {
  static const std::string kPiece =
      "<tr><td class=\"title\">流程节点 <b>办理人</b></td>\r\n"
      "<td nowrap>审批意见 &amp; 备注 <% =x %> <!-- note --></td></tr>\r\n";
  std::string text;
  text.reserve(size + kPiece.size());
  while (text.size() < size) text += kPiece;
  text.resize(size);
  return text;
}

// An unclosed "<" near the start of ordinary text with many later "<".
std::string unclosed(size_t size) {
  std::string text = "x <";
  while (text.size() < size) text += "a < b and c <d ";
  text.resize(size);
  return text;
}

struct Context {
  Context() {
    context.server = &server;
    context.response = &response;
    oapx1::bind_intrinsics(&context);
  }
  ~Context() { oapx1::bind_intrinsics(nullptr); }
  oapx1::MemoryServer server;
  oapx1::MemoryResponse response;
  oapx1::ObjectContext context;
};

void BM_RemoveHtml(benchmark::State& state) {
  LibraryPage page;
  const Variant text = markup(static_cast<size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(page.RemoveHtml(text));
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_RemoveHtmlUnclosed(benchmark::State& state) {
  LibraryPage page;
  const Variant text = unclosed(static_cast<size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(page.RemoveHtml(text));
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_displaytext(benchmark::State& state) {
  Context context;
  LibraryPage page;
  const Variant text = markup(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    Variant copy = text;  // displaytext rewrites its argument in place
    benchmark::DoNotOptimize(page.displaytext(copy));
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

constexpr int64_t kKb = 1024;

// 1 KB, 10 KB, 100 KB, 1 MB and 10 MB.
void sizes(benchmark::internal::Benchmark* b) {
  for (const int64_t size : {kKb, 10 * kKb, 100 * kKb, kKb * kKb, 10 * kKb * kKb}) b->Arg(size);
  b->Unit(benchmark::kMicrosecond);
}

}  // namespace

BENCHMARK(BM_RemoveHtml)->Apply(sizes);
BENCHMARK(BM_RemoveHtmlUnclosed)->Apply(sizes);
BENCHMARK(BM_displaytext)->Apply(sizes);
