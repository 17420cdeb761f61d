// ParseNMEA on the real machine's clock: a receiver's 1 Hz mix and GGA alone.

#include <benchmark/benchmark.h>

#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "base/text_rules.hpp"
#include "nmea/epoch_builder.hpp"
#include "nmea/nmea_decoder.hpp"
#include "nmea/sentence_fields.hpp"
#include "platform/platform.hpp"

namespace {

constexpr std::array<const char*, 6> kOneSecond{
    "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r",
    "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r",
    "$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1*39\r",
    "$GPGSV,3,1,11,03,03,111,00,04,15,270,00,06,01,010,00,13,06,292,00*74\r",
    "$GPGSV,3,2,11,14,25,170,00,16,57,208,39,18,67,296,40,19,40,246,00*74\r",
    "$GPGSV,3,3,11,22,42,067,42,24,14,311,43,27,05,244,00,,,,*4D\r",
};

// Argument 1: every talker taken and every checksum checked, as gps-monitor decodes.
void BM_ParseNmeaMix(benchmark::State& state) {
  quorvane::NmeaDecoder decoder([] { return quorvane::TheSystemPlatform().Now(); });
  decoder.AllTalkers(state.range(0) == 1);
  decoder.VerifyChecksum(state.range(0) == 1);
  for (auto _ : state) {
    for (const char* sentence : kOneSecond) decoder.ParseNMEA(sentence);
    benchmark::DoNotOptimize(decoder.Fix().SnrText.data());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kOneSecond.size()));
}
BENCHMARK(BM_ParseNmeaMix)->Arg(0)->Arg(1);

void BM_ParseNmeaGga(benchmark::State& state) {
  quorvane::NmeaDecoder decoder([] { return quorvane::TheSystemPlatform().Now(); });
  // Positions that move, so the odometer does real work every time.
  std::array<std::string, 16> sentences;
  for (size_t i = 0; i < sentences.size(); ++i) {
    sentences[i] = "$GPGGA,123519,4807." + std::to_string(100 + i * 7) +
                   ",N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r";
  }
  size_t next = 0;
  for (auto _ : state) {
    decoder.ParseNMEA(sentences[next++ % sentences.size()]);
    benchmark::DoNotOptimize(decoder.Fix().OdometerTotal);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_ParseNmeaGga);

// The 1 Hz mix of one minute (each second a time of its own) through the epoch builder: the
// typed decoding of every sentence and one Fix a second. Argument 1: ParseNMEA as well, on the
// same split, as the receive path does: the control's whole work per sentence.
void BM_EpochsMix(benchmark::State& state) {
  std::vector<std::string> minute;
  for (int second = 0; second < 60; ++second) {
    char time[8];
    std::snprintf(time, sizeof time, "1235%02d", second);
    for (std::string sentence : kOneSecond) {
      if (sentence.compare(3, 3, "GGA") == 0 || sentence.compare(3, 3, "RMC") == 0) {
        sentence.replace(7, 6, time);
      }
      minute.push_back(sentence);
    }
  }
  quorvane::NmeaDecoder decoder([] { return quorvane::TheSystemPlatform().Now(); });
  decoder.AllTalkers(true);
  decoder.VerifyChecksum(false);
  uint64_t epochs = 0;
  quorvane::EpochBuilder builder([&epochs](const quorvane::Fix&) { ++epochs; });
  const bool with_properties = state.range(0) == 1;
  for (auto _ : state) {
    for (const std::string& sentence : minute) {
      const quorvane::SentenceFields fields(sentence);
      if (with_properties) decoder.ParseNMEA(sentence, fields);
      builder.Take(sentence, fields);
    }
  }
  benchmark::DoNotOptimize(epochs);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * minute.size()));
  state.counters["epochs"] = static_cast<double>(epochs);
}
BENCHMARK(BM_EpochsMix)->Arg(0)->Arg(1);

void BM_NumberToText(benchmark::State& state) {
  double value = 11.516666666666667;
  for (auto _ : state) {
    benchmark::DoNotOptimize(quorvane::NumberToText(value));
    value += 1e-9;
  }
}
BENCHMARK(BM_NumberToText);

}  // namespace
