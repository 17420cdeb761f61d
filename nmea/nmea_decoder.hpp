#pragma once
// ParseNMEA and the fix record it writes. The decoder never checks the checksum, never raises
// an event and never fails: it takes what it can from each sentence and leaves the rest of the
// record as it was, and says what it wrote. A step that needs a field the sentence lacks is
// skipped; a test that needs one counts as passed.

#include <functional>
#include <optional>
#include <string_view>

#include "base/clock_reading.hpp"
#include "nmea/fix_record.hpp"
#include "nmea/sentence_fields.hpp"

namespace quorvane {

enum class SentenceType { kGga, kGsv, kGsa, kRmc };

// The type whose tag the first six characters of `sentence` are, compared exactly and with
// case: "$GPGGA", "$GPGSV", "$GPGSA", "$GPRMC". "$GPGGAX..." is GGA; "$GNGGA" and "$gpgga"
// are nothing.
std::optional<SentenceType> SentenceTypeOf(std::string_view sentence);

// What one sentence did to the fix: its type when the decoder knows it, and what it wrote.
struct Decoded {
  std::optional<SentenceType> type;
  FixChanges changes = 0;
};

class NmeaDecoder {
 public:
  // `clock` reads the computer's clock, which the local time of day follows.
  explicit NmeaDecoder(std::function<ClockReading()> clock) : clock_(std::move(clock)) {}

  // Decodes one sentence, "$" to CR inclusive, into the fix record.
  Decoded ParseNMEA(std::string_view sentence);

  const FixRecord& Fix() const { return fix_; }
  FixRecord& Fix() { return fix_; }

  friend std::optional<SentenceType> SentenceTypeOf(std::string_view sentence);

 private:
  // A row of the sentence table: a tag, its type, and its decoder.
  struct Phrase;
  static const Phrase* PhraseOf(std::string_view sentence);

  struct Position {
    double latitude;
    double longitude;
  };

  FixChanges DecodeGga(const SentenceFields& fields, std::string_view sentence);
  void AdvanceOdometer();
  void UpdateLocalTime(const TimeOfDay& utc);
  FixChanges DecodeRmc(const SentenceFields& fields, std::string_view sentence);
  FixChanges DecodeGsa(const SentenceFields& fields, std::string_view sentence);
  FixChanges DecodeGsv(const SentenceFields& fields, std::string_view sentence);

  std::function<ClockReading()> clock_;
  FixRecord fix_;
  // The odometer counts only between positions that a receiver actually reported.
  std::optional<Position> odometer_last_;
};

}  // namespace quorvane
