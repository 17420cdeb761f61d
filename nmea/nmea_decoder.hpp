#pragma once
// ParseNMEA and the fix record it writes. The decoder never checks the checksum, never raises
// an event and never fails: it takes what it can from each sentence and leaves the rest of the
// record as it was.

#include <string_view>

#include "nmea/fix_record.hpp"
#include "nmea/sentence_fields.hpp"

namespace quorvane {

class NmeaDecoder {
 public:
  // Decodes one sentence, "$" to CR inclusive, into the fix record.
  void ParseNMEA(std::string_view sentence);

  const FixRecord& Fix() const { return fix_; }
  FixRecord& Fix() { return fix_; }

 private:
  void DecodeGga(const SentenceFields& fields, std::string_view sentence);
  void DecodeRmc(const SentenceFields& fields);
  void DecodeGsa(const SentenceFields& fields);
  void DecodeGsv(const SentenceFields& fields);

  FixRecord fix_;
};

}  // namespace quorvane
