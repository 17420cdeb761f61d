#pragma once
// ParseNMEA and the fix record it writes. The decoder never raises an event and never fails: it
// takes what it can from each sentence and leaves the rest of the record as it was, and says what
// it wrote. By default it decodes the GPS talker's sentences ("$GP") and trusts every checksum;
// AllTalkers and VerifyChecksum make it take every talker's and refuse a sentence whose checksum
// is wrong. A step that needs a field the sentence lacks is
// skipped; a test that needs one counts as passed.

#include <functional>
#include <optional>
#include <string_view>

#include "../base/clock_reading.hpp"
#include "../geo/great_circle.hpp"
#include "fix_record.hpp"
#include "sentence_fields.hpp"

namespace quorvane {

enum class SentenceType { kGga, kGsv, kGsa, kRmc };

// The type whose tag the first six characters of `sentence` are, compared exactly and with
// case: "$GPGGA", "$GPGSV", "$GPGSA", "$GPRMC". "$GPGGAX..." is GGA; "$gpgga" is nothing, and
// so is "$GNGGA" unless `all_talkers`, which takes any talker's ("$GN", "$GL", "$BD", ...).
std::optional<SentenceType> SentenceTypeOf(std::string_view sentence, bool all_talkers = false);

// Two capital letters, not a maker's "P": the talker of a standard sentence.
bool IsTalker(char first, char second);

// What a sentence's checksum says: it has none (no "*"), it equals the XOR of the characters
// between "$" and "*", or it is wrong (another value, or not exactly two hex digits before the
// CR: "*G1", "*1", a lone "*", text after it).
enum class ChecksumCheck { kNone, kRight, kWrong };
ChecksumCheck CheckChecksum(std::string_view sentence);

// What one sentence did to the fix: its type when the decoder knows it, and what it wrote; or
// that its wrong checksum kept it out.
struct Decoded {
  std::optional<SentenceType> type;
  FixChanges changes = 0;
  bool refused = false;
};

class NmeaDecoder {
 public:
  // `clock` reads the computer's clock, which the local time of day follows.
  explicit NmeaDecoder(std::function<ClockReading()> clock) : clock_(std::move(clock)) {}

  // Decodes one sentence, "$" to CR inclusive, into the fix record.
  Decoded ParseNMEA(std::string_view sentence);
  // The same for a sentence split already into `fields`.
  Decoded ParseNMEA(std::string_view sentence, const SentenceFields& fields);

  const FixRecord& Fix() const { return fix_; }
  FixRecord& Fix() { return fix_; }

  bool AllTalkers() const { return all_talkers_; }
  void AllTalkers(bool on) { all_talkers_ = on; }
  bool VerifyChecksum() const { return verify_checksum_; }
  void VerifyChecksum(bool on) { verify_checksum_ = on; }
  // Sentences refused for their checksum since the decoder was made.
  double ChecksumErrors() const { return checksum_errors_; }

  friend std::optional<SentenceType> SentenceTypeOf(std::string_view sentence, bool all_talkers);

 private:
  // A row of the sentence table: a tag, its type, and its decoder.
  struct Phrase;
  static const Phrase* PhraseOf(std::string_view sentence, bool all_talkers);

  FixChanges DecodeGga(const SentenceFields& fields, std::string_view sentence);
  void AdvanceOdometer();
  void UpdateLocalTime(const TimeOfDay& utc);
  FixChanges DecodeRmc(const SentenceFields& fields, std::string_view sentence);
  FixChanges DecodeGsa(const SentenceFields& fields, std::string_view sentence);
  FixChanges DecodeGsv(const SentenceFields& fields, std::string_view sentence);

  std::function<ClockReading()> clock_;
  FixRecord fix_;
  bool all_talkers_ = false;
  bool verify_checksum_ = false;
  double checksum_errors_ = 0;
  // The odometer counts only between positions that a receiver actually reported.
  std::optional<GlobePoint> odometer_last_;
};

}  // namespace quorvane
