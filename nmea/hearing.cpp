#include "nmea/hearing.hpp"

#include <cstdio>

#include "nmea/nmea_decoder.hpp"

namespace quorvane {
namespace {

// Tags listed before the list is cut short.
constexpr size_t kTagsShown = 12;

std::string Count(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.0f", value);
  return text;
}

// A GGA, RMC, GSA or GSV of another talker than GPS: decodable, but not with --gp-only.
bool OtherTalkersFix(const std::string& tag) {
  return tag.size() == 6 && !tag.starts_with("$GP") && SentenceTypeOf(tag, true).has_value();
}

std::string TagList(const SentenceCensus& census, bool (*wanted)(const std::string&)) {
  std::string list;
  size_t shown = 0;
  for (const auto& tag : census.Tags()) {
    if (wanted && !wanted(tag.tag)) continue;
    if (shown++ == kTagsShown) return list + ", ...";
    list += (list.empty() ? "" : ", ") + tag.tag;
  }
  return list;
}

}  // namespace

std::string HearingReport(const Hearing& hearing) {
  if (hearing.census.Sentences() == 0) {
    return "no fix yet: " + Count(static_cast<double>(hearing.bytes)) +
           " bytes but no NMEA sentences: is the receiver in a binary mode, or the speed wrong?";
  }
  std::string report = "no fix yet: " + Count(hearing.sentences_per_second) + " sentences/s (" +
                       TagList(hearing.census, nullptr) + "), " + Count(hearing.checksum_errors) +
                       " checksum errors";
  const std::string others = TagList(hearing.census, OtherTalkersFix);
  if (hearing.gp_only && !others.empty()) {
    report += "; receiving " + others + " but --gp-only decodes $GP sentences only";
  }
  return report;
}

std::string SummaryLine(const ReplaySummary& summary, const SentenceCensus& census, bool gp_only) {
  std::string line = "replay of " + summary.log + ": " +
                     Count(static_cast<double>(summary.sentences)) + " sentences, " +
                     Count(static_cast<double>(summary.fixes)) + " fixes";
  if (summary.fixes > 0) {
    line += " from " + summary.first_fix_time + " to " + summary.last_fix_time + " UTC";
  }
  line += ", " + Count(summary.checksum_errors) + " checksum errors";
  if (summary.malformed_fields > 0) {
    line += ", " + Count(static_cast<double>(summary.malformed_fields)) + " malformed fields";
  }
  const std::string others = TagList(census, OtherTalkersFix);
  // The epochs take every talker; the properties under --gp-only take $GP only.
  if (gp_only && !others.empty()) {
    line += " (--gp-only left " + others + " out of the properties: run without it to have them)";
  }
  return line;
}

}  // namespace quorvane
