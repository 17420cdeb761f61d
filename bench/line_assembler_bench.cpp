// The line assembler's cost must grow with the text it is given, not with its square.

#include <benchmark/benchmark.h>

#include <string>

#include "receiver/line_assembler.hpp"

namespace {

std::string BackToBackSentences(size_t bytes) {
  const std::string second =
      "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n"
      "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n"
      "$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1*39\r\n"
      "$GPGSV,3,1,11,03,03,111,00,04,15,270,00,06,01,010,00,13,06,292,00*74\r\n";
  std::string text;
  while (text.size() < bytes) text += second;
  text.resize(bytes);
  return text;
}

// One block of the given size, cut into sentences.
void BM_OneBlock(benchmark::State& state) {
  const std::string block = BackToBackSentences(static_cast<size_t>(state.range(0)));
  size_t sentences = 0;
  for (auto _ : state) {
    quorvane::LineAssembler assembler;
    assembler.Feed(block, [&](std::string_view s) { sentences += s.size() > 0; });
    benchmark::DoNotOptimize(sentences);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_OneBlock)->RangeMultiplier(32)->Range(1 << 10, 1 << 20);

// The same text arriving in small serial reads of a few bytes each.
void BM_SmallBlocks(benchmark::State& state) {
  const std::string text = BackToBackSentences(1 << 16);
  const size_t block = static_cast<size_t>(state.range(0));
  size_t sentences = 0;
  for (auto _ : state) {
    quorvane::LineAssembler assembler;
    for (size_t at = 0; at < text.size(); at += block) {
      assembler.Feed(std::string_view(text).substr(at, block),
                     [&](std::string_view s) { sentences += s.size() > 0; });
    }
    benchmark::DoNotOptimize(sentences);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_SmallBlocks)->Arg(1)->Arg(7)->Arg(64)->Arg(1024);

// A source that never sends CR LF: the bounded pending text must not make this quadratic.
void BM_NoLineEnds(benchmark::State& state) {
  const std::string block(static_cast<size_t>(state.range(0)), 'x');
  for (auto _ : state) {
    quorvane::LineAssembler assembler;
    for (int i = 0; i < 256; ++i) assembler.Feed(block, [](std::string_view) {});
    benchmark::DoNotOptimize(assembler.PendingText().size());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 256 * state.range(0));
}
BENCHMARK(BM_NoLineEnds)->Arg(1)->Arg(4096);

}  // namespace
