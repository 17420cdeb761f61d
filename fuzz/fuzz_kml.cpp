// The KML writer and the single-placemark document with any caller texts and any doubles (NaN,
// infinities, huge and tiny values): no crash, and every line the writer ends, it ends in CR LF.

#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>

#include "fuzz/fuzz_platform.hpp"
#include "sinks/placemark_file.hpp"
#include "sinks/quorvane_kml.hpp"

namespace {

// Caller texts are written verbatim and a caller is trusted not to break lines; the line ends
// checked here are the writer's own.
std::string Text(FuzzedDataProvider& input) {
  std::string text = input.ConsumeRandomLengthString(64);
  std::erase_if(text, [](char c) { return c == '\r' || c == '\n'; });
  return text;
}

double Number(FuzzedDataProvider& input) {
  switch (input.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
      return std::numeric_limits<double>::quiet_NaN();
    case 1:
      return (input.ConsumeBool() ? 1 : -1) * std::numeric_limits<double>::infinity();
    default:
      return input.ConsumeFloatingPoint<double>();
  }
}

void CheckLines(const std::string& text) {
  if (!text.empty() && !text.ends_with("\r\n")) std::abort();
  for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1)) {
    if (at == 0 || text[at - 1] != '\r') std::abort();
  }
}

std::string Read(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::filesystem::path file =
      std::filesystem::temp_directory_path() / ("qgps-fuzz-" + std::to_string(::getpid()) + ".kml");
  FuzzedDataProvider input(data, size);
  quorvane::fuzzing::FuzzPlatform clock;
  clock.now = quorvane::ClockReading{.hour = 12, .minute = 30};
  {
    quorvane::QuorvaneKML kml(clock);
    kml.CreateKML(file.string(), Text(input), Text(input), input.ConsumeBool());
    while (input.remaining_bytes() > 0) {
      clock.now.hundredths = input.ConsumeIntegralInRange<int>(0, 99);
      switch (input.ConsumeIntegralInRange<int>(0, 8)) {
        case 0:
          kml.ClearPath();
          break;
        case 1:
          kml.CreatePathFromPlaceMarks(input.ConsumeIntegral<int16_t>(), Text(input));
          break;
        case 2: {
          std::string path = kml.CreatePathString(Number(input), Number(input), Number(input));
          kml.CreatePathFromString(input.ConsumeIntegral<int16_t>(), Text(input), path, Text(input),
                                   input.ConsumeBool());
          break;
        }
        case 3:
          kml.CreateCameraOverlay(Text(input), Number(input), Number(input), Number(input),
                                  Text(input), Text(input), Text(input));
          break;
        case 4:
          kml.CreateGroundOverlay(Text(input), Number(input), Number(input), Number(input),
                                  Text(input), Text(input), Text(input), Text(input));
          break;
        case 5:
          kml.CreateStreetView(Text(input), Number(input), Number(input), Number(input),
                               Text(input), Text(input), Text(input), Text(input));
          break;
        case 6:
          kml.CreatePlaceMark(Number(input), Number(input), Number(input), Text(input), Text(input),
                              Text(input), Text(input));
          break;
        case 7:
          kml.CreatePathPoint(Number(input), Number(input), Number(input));
          break;
        default:
          kml.CloseKML();
          break;
      }
    }
    kml.CloseKML();
    CheckLines(std::string(kml.PathText()));
  }
  CheckLines(Read(file));
  CheckLines(
      quorvane::GoogleEarthPlaceMarkDocument(Text(input), Text(input), Text(input), Text(input)));
  return 0;
}
