// The main of the in-process benchmarks: the server's allocator settings
// first, so that the figures are the server's, then the benchmarks.
#include <benchmark/benchmark.h>

#include "platform/web/process.h"

int main(int argc, char** argv) {
  oapx1::keep_freed_memory();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
