#pragma once
// NMEA sentences as typed values: each standard sentence the epochs are built from, decoded
// into a value of its own whose fields are absent when the receiver left them empty or sent
// something that is not what the field holds. Nothing here goes through text: numbers are read
// strictly (digits, at most one point, a sign only where the field may be negative), times and
// dates are checked against their ranges, and a field that fails is absent and counted.
//
// A value says what one sentence said; merging sentences into a fix is the epoch builder's job.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <variant>

#include "fix_record.hpp"

namespace quorvane {

// A UTC time of day, to the microsecond.
struct UtcTime {
  int64_t microseconds = 0;  // since midnight

  auto operator<=>(const UtcTime&) const = default;
};

struct GgaSentence {
  std::optional<UtcTime> time{};
  std::optional<double> latitude{};   // degrees, south negative
  std::optional<double> longitude{};  // degrees, west negative
  std::optional<int> quality{};  // 0 none, 1 GPS, 2 DGPS, 3 PPS, 4 RTK, 5 float, 6 DR, 7, 8 sim
  std::optional<int> satellites{};
  std::optional<double> hdop{};
  std::optional<double> altitude{};  // metres above mean sea level
  std::optional<double> geoid_separation{};
};

struct RmcSentence {
  std::optional<UtcTime> time{};
  std::optional<char> status{};  // A valid, V not
  std::optional<double> latitude{};
  std::optional<double> longitude{};
  std::optional<double> speed_knots{};
  std::optional<double> course{};  // degrees true
  std::optional<CalendarDate> date{};
  std::optional<double> magnetic_variation{};  // degrees, west negative
  std::optional<char> mode{};                  // NMEA 2.3: A D E F M N P R S
};

struct GllSentence {
  std::optional<double> latitude{};
  std::optional<double> longitude{};
  std::optional<UtcTime> time{};
  std::optional<char> status{};
  std::optional<char> mode{};
};

struct GnsSentence {
  std::optional<UtcTime> time{};
  std::optional<double> latitude{};
  std::optional<double> longitude{};
  // One mode letter per constellation (GPS, GLONASS, Galileo, BeiDou, ...), N where it has none.
  std::array<char, 8> modes{};
  std::optional<int> satellites{};
  std::optional<double> hdop{};
  std::optional<double> altitude{};
  std::optional<double> geoid_separation{};
};

struct VtgSentence {
  std::optional<double> course{};           // degrees true
  std::optional<double> magnetic_course{};  // degrees magnetic
  std::optional<double> speed_knots{};
  std::optional<double> speed_kmh{};
  std::optional<char> mode{};
};

struct GsaSentence {
  std::optional<char> selection{};  // M manual, A automatic
  std::optional<int> fix_type{};    // 1 none, 2 2D, 3 3D
  std::array<int16_t, 12> prns{};
  uint8_t prn_count = 0;
  std::optional<double> pdop{};
  std::optional<double> hdop{};
  std::optional<double> vdop{};
  std::optional<int>
      system_id{};  // NMEA 4.10: 1 GPS, 2 GLONASS, 3 Galileo, 4 BeiDou, 5 QZSS, 6 NavIC
};

struct SatelliteSignal {
  int prn = 0;
  std::optional<double> elevation{};  // degrees
  std::optional<double> azimuth{};    // degrees true
  std::optional<double> snr{};        // dB-Hz; absent when the satellite is not tracked
};

struct GsvSentence {
  std::optional<int> total{};   // sentences of the group
  std::optional<int> number{};  // this one's place in it, from 1
  std::optional<int> in_view{};
  std::array<SatelliteSignal, 4> satellites{};
  uint8_t satellite_count = 0;
  std::optional<int> signal_id{};  // NMEA 4.10
};

struct ZdaSentence {
  std::optional<UtcTime> time{};
  std::optional<CalendarDate> date{};
};

struct GstSentence {
  std::optional<UtcTime> time{};
  std::optional<double> rms{};
  std::optional<double> latitude_sigma{};   // metres, 1 sigma
  std::optional<double> longitude_sigma{};  // metres
  std::optional<double> altitude_sigma{};   // metres
};

using SentenceValue = std::variant<GgaSentence, RmcSentence, GllSentence, GnsSentence, VtgSentence,
                                   GsaSentence, GsvSentence, ZdaSentence, GstSentence>;

struct TypedSentence {
  std::array<char, 2> talker{};  // "GP", "GN", "GL", "EC", ...
  SentenceValue value;
  int malformed_fields = 0;  // fields that held something other than what they hold
  // Its time field held no time: nothing it says can be placed in a cycle.
  bool time_refused = false;
};

// The sentence, "$" up to its line end (CR LF, LF, CR CR LF, or none), decoded when it is one of
// the types above from any talker; nullopt for any other text. The checksum is not judged here.
std::optional<TypedSentence> DecodeTypedSentence(std::string_view sentence);
// The same into `typed` (only its value's own type is made anew): false, and `typed` as it may
// have been left, for any other text. For a reader of many sentences.
bool DecodeTypedSentence(std::string_view sentence, TypedSentence& typed);

// The sentence's time when its type carries one (GGA, RMC, GLL, GNS, ZDA, GST).
std::optional<UtcTime> TimeOf(const SentenceValue& value);

}  // namespace quorvane
