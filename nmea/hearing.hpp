#pragma once
// What a receiver's text says of itself, for a host to tell its user: while no fix comes, what
// does come and why nothing decodes; at the end of a replay, one summary line.

#include <cstdint>
#include <string>

#include "nmea/sentence_census.hpp"

namespace quorvane {

struct Hearing {
  const SentenceCensus& census;
  double sentences_per_second = 0;
  uint64_t bytes = 0;  // received in all
  double checksum_errors = 0;
  bool gp_only = false;
};

// "no fix yet: 6 sentences/s ($GNGGA, $GNRMC, ...), 0 checksum errors", with a hint when
// nothing that arrives can be decoded.
std::string HearingReport(const Hearing& hearing);

struct ReplaySummary {
  std::string log;
  uint64_t sentences = 0;
  uint64_t fixes = 0;
  double checksum_errors = 0;
  std::string first_fix_time;  // hh:mm:ss UTC of the first and last fix
  std::string last_fix_time;
  uint64_t malformed_fields = 0;
};

// "replay of LOG: 3600 sentences, 600 fixes from 12:00:00 to 12:09:59 UTC, 0 checksum errors"
// (and ", 3 malformed fields" when a field held junk)
std::string SummaryLine(const ReplaySummary& summary, const SentenceCensus& census, bool gp_only);

}  // namespace quorvane
