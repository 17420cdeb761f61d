#pragma once
// ParseNMEA and the fix record it writes. The decoder never checks the checksum, never raises
// an event and never fails: it takes what it can from each sentence and leaves the rest of the
// record as it was. A step that needs a field the sentence lacks is skipped; a test that needs
// one counts as passed.

#include <functional>
#include <optional>
#include <string_view>

#include "nmea/fix_record.hpp"
#include "nmea/sentence_fields.hpp"
#include "platform/platform.hpp"

namespace quorvane {

// What the end of every GGA decoding tells the track recorder.
struct GgaPoint {
  double latitude = 0;        // decimal degrees, as LatitudeText reads back
  double longitude = 0;       // decimal degrees, as LongitudeText reads back
  bool has_position = false;  // both hemisphere fields present and non-empty
};

class NmeaDecoder {
 public:
  explicit NmeaDecoder(Platform& platform) : platform_(platform) {}

  // Decodes one sentence, "$" to CR inclusive, into the fix record.
  void ParseNMEA(std::string_view sentence);

  const FixRecord& Fix() const { return fix_; }
  FixRecord& Fix() { return fix_; }

  // Run as the last step of every GGA decoding.
  void OnGgaDecoded(std::function<void(const GgaPoint&)> hook) { gga_hook_ = std::move(hook); }

 private:
  struct Position {
    double latitude;
    double longitude;
  };

  void DecodeGga(const SentenceFields& fields, std::string_view sentence);
  void AdvanceOdometer(const GgaPoint& point);
  void UpdateLocalTime(const SentenceFields& fields);
  void DecodeRmc(const SentenceFields& fields);
  void DecodeGsa(const SentenceFields& fields);
  void DecodeGsv(const SentenceFields& fields);

  Platform& platform_;
  FixRecord fix_;
  // The odometer counts only between positions that a receiver actually reported.
  std::optional<Position> odometer_last_;
  std::function<void(const GgaPoint&)> gga_hook_;
};

}  // namespace quorvane
