#pragma once
// Merges the sentences of one reporting cycle into one Fix, as mature decoders do. A receiver
// sends a burst of sentences for each moment it reports (GGA, RMC, GSA, GSV, ... all of one UTC
// time); the burst ends when a sentence of another time arrives, or as soon as the sentence that
// ends this receiver's bursts is seen: the builder learns it from the first cycles (the same
// sentence closing two cycles in a row). Sentences without a time (GSA, GSV, VTG) belong to the
// cycle they arrive in. Finish ends the last cycle at the end of a stream.
//
// Memory is bounded whatever arrives: a cycle keeps at most one sentence of each kind (a few
// GSA), the sky at most kMaxSkyGroups groups of satellites.

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fix.hpp"
#include "sentence_fields.hpp"
#include "sentences.hpp"

namespace quorvane {

class EpochBuilder {
 public:
  using EpochHandler = std::function<void(const Fix&)>;
  static constexpr size_t kMaxSkyGroups = 16;
  static constexpr size_t kMaxGsaPerCycle = 8;

  explicit EpochBuilder(EpochHandler on_epoch = nullptr) : on_epoch_(std::move(on_epoch)) {}

  void OnEpoch(EpochHandler on_epoch) { on_epoch_ = std::move(on_epoch); }

  // One sentence, "$" to its line end. The cycle it ends, if any, is handed on first.
  void Take(std::string_view sentence);
  // The same for a sentence split already into `fields`.
  void Take(std::string_view sentence, const SentenceFields& fields);
  // The stream ended: the cycle under way is handed on if it says anything.
  void Finish();
  // An epoch made elsewhere (a publisher's TPV) is this stream's latest, handed on as one of its
  // own would be.
  void TakeWhole(const Fix& fix);

  // The time the last sentence taken carried, with the date of its cycle (when both are known):
  // what a GGA's track point is stamped with.
  // Written into `iso`, its room reused.
  void LastSentenceIsoTime(std::string& iso) const;
  // Fields that held something other than what they hold, since the builder was made.
  uint64_t MalformedFields() const { return malformed_fields_; }
  // The last epoch handed on (empty before the first).
  const Fix& LastEpoch() const { return fix_; }

 private:
  // A sentence kind as the cycle end is learned: talker and type ("GPRMC"), and for GSV whether
  // it is the last of its group, packed in one number.
  using Tag = uint64_t;

  struct TalkedGsa {
    std::array<char, 2> talker;
    GsaSentence gsa;
  };

  struct Cycle {
    std::optional<UtcTime> time;
    std::optional<std::chrono::system_clock::time_point> arrived;  // its first sentence
    std::optional<GgaSentence> gga;
    std::optional<RmcSentence> rmc;
    std::optional<GllSentence> gll;
    std::optional<GnsSentence> gns;
    std::optional<VtgSentence> vtg;
    std::optional<ZdaSentence> zda;
    std::optional<GstSentence> gst;
    std::array<TalkedGsa, kMaxGsaPerCycle> gsas{};
    size_t gsa_count = 0;
    std::array<Tag, 32> tags{};  // the kinds seen, in order (the first 32)
    size_t tag_count = 0;
    Tag last_tag = 0;
    int last_tag_seen = 0;  // how often the last kind came in this cycle

    // It says something an epoch can report: a time or a position sentence.
    bool Reportable() const { return time || gga || rmc || gll || gns; }
  };

  struct SkyGroup {
    std::array<char, 2> talker{};
    int signal = 0;
    std::vector<SatelliteInView> building;
    std::vector<SatelliteInView> complete;
    uint64_t committed_at = 0;  // the epoch count when it was last complete
  };

  void Fold(const TypedSentence& sentence);
  void FoldGsv(std::array<char, 2> talker, const GsvSentence& gsv);
  void Note(Tag tag);
  enum class End { kNewTime, kLastSentence, kStreamEnd };
  void EndCycle(End why);
  void Assemble();
  void AssembleSky();
  void RollDate(UtcTime time);

  EpochHandler on_epoch_;
  TypedSentence scratch_;  // the sentence being taken, kept to save making one each time
  Cycle cycle_;
  Fix fix_;
  std::optional<CalendarDate> date_;
  std::optional<UtcTime> previous_time_;  // of the last cycle with a time
  std::optional<UtcTime> reported_time_;  // of the last epoch handed on
  std::optional<UtcTime> sentence_time_;  // of the last sentence taken
  std::optional<Tag> ender_;              // the sentence that ends this receiver's cycles
  std::optional<Tag> ender_candidate_;
  std::vector<SkyGroup> sky_;
  uint64_t epochs_ = 0;
  uint64_t malformed_fields_ = 0;
};

}  // namespace quorvane
