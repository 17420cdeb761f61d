// Any bytes, cut into blocks as a serial port or the network would deliver them, through the
// line assembler, ParseNMEA and the epochs, with every fix property read after each block and
// every epoch written as JSON.

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdlib>

#include "base/text_rules.hpp"
#include "receiver/line_assembler.hpp"
#include "fuzz/fuzz_platform.hpp"
#include "nmea/epoch_builder.hpp"
#include "nmea/fix_properties.hpp"
#include "sinks/gpsd_json.hpp"
#include "nmea/nmea_decoder.hpp"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void ReadEveryProperty(const quorvane::FixRecord& fix) {
  const std::string odometer = quorvane::OdometerText(fix);
  const auto metres = quorvane::ReadStrict(odometer);
  Check(metres.has_value() && std::isfinite(*metres));
  Check(fix.LastGgaText.empty() ||
        (fix.LastGgaText.starts_with("$") && fix.LastGgaText.substr(3, 3) == "GGA" &&
         fix.LastGgaText.back() == '\r'));
  Check(!quorvane::AltitudeFeetText(fix).empty());
  // "#0.00", or the name of a speed too large to be finite.
  const std::string mph = quorvane::SpeedMphText(fix);
  Check(mph.find('.') != std::string::npos || mph.ends_with("Infinity"));
  Check(quorvane::UtcTimeText(fix).empty() || quorvane::UtcTimeText(fix).size() >= 2);
  Check(quorvane::LocalTimeText(fix).empty() || quorvane::LocalTimeText(fix).size() >= 8);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  quorvane::fuzzing::FuzzPlatform
      clock;  // the input moves it on, so the local-time rule runs both ways
  clock.now.utc_offset_minutes = input.ConsumeIntegralInRange<int>(-14 * 60, 14 * 60);
  clock.bias_minutes = -clock.now.utc_offset_minutes;
  quorvane::NmeaDecoder decoder([&clock] { return clock.now; });
  decoder.AllTalkers(input.ConsumeBool());
  decoder.VerifyChecksum(input.ConsumeBool());
  quorvane::LineAssembler assembler(input.ConsumeIntegralInRange<size_t>(16, 4096));
  // Each epoch as its outputs take it: a fix without a mode of one has no position.
  quorvane::EpochBuilder epochs([](const quorvane::Fix& fix) {
    Check(fix.HasFix() == fix.latitude.has_value());
    Check(fix.in_view.size() <= quorvane::EpochBuilder::kMaxSkyGroups * 36);
    Check(quorvane::TpvJson(fix, "").ends_with('}') && quorvane::SkyJson(fix, "").ends_with('}'));
  });
  while (input.remaining_bytes() > 0) {
    const std::string block = input.ConsumeRandomLengthString(2048);
    clock.now.second = (clock.now.second + input.ConsumeIntegralInRange<int>(0, 1)) % 60;
    assembler.Feed(block, [&](std::string_view sentence) {
      if (!decoder.ParseNMEA(sentence).refused) epochs.Take(sentence);
    });
    Check(assembler.PendingText().size() <= std::max<size_t>(4096, block.size()));
    ReadEveryProperty(decoder.Fix());
  }
  epochs.Finish();
  return 0;
}
