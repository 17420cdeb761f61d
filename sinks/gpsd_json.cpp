#include "sinks/gpsd_json.hpp"

#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <optional>
#include <vector>

#include "base/text_rules.hpp"

namespace quorvane {
namespace {

// An object of one class appended to `text`: "name":value members, then Close.
class JsonObject {
 public:
  JsonObject(std::string_view json_class, std::string& text) : text_(text) {
    text_ += "{\"class\":\"";
    text_.append(json_class);
    text_ += '"';
  }

  void Text(std::string_view name, std::string_view value) {
    if (value.empty()) return;
    Name(name);
    AppendJsonQuoted(value, text_);
  }

  // The fix's ISO time, as Text would write it (it needs no escapes), without a text of its own.
  void Time(std::string_view name, const Fix& fix) {
    const size_t before = text_.size();
    Name(name);
    text_ += '"';
    if (AppendIsoTimeText(fix.date, fix.time, text_)) {
      text_ += '"';
    } else {
      text_.resize(before);
    }
  }

  void Integer(std::string_view name, long value) {
    Name(name);
    std::array<char, 24> digits;
    text_.append(digits.data(), std::to_chars(digits.begin(), digits.end(), value).ptr);
  }

  // With `decimals` places; nothing for an absent or non-finite value.
  void Number(std::string_view name, const std::optional<double>& value, int decimals) {
    if (!value || !std::isfinite(*value)) return;
    Name(name);
    AppendFixed(*value, decimals, text_);
  }

  void Raw(std::string_view name, std::string_view json) {
    Name(name);
    text_.append(json);
  }

  void Close() { text_ += '}'; }

 private:
  // `,"name":` in one append (every name here is short).
  void Name(std::string_view name) {
    std::array<char, 40> piece;
    if (name.size() + 4 > piece.size()) {
      text_.append(",\"").append(name).append("\":");
      return;
    }
    piece[0] = ',';
    piece[1] = '"';
    name.copy(piece.data() + 2, name.size());
    piece[name.size() + 2] = '"';
    piece[name.size() + 3] = ':';
    text_.append(piece.data(), name.size() + 4);
  }

  std::string& text_;
};

// A new text with room for a whole TPV or a SKY of a dozen satellites at once.
std::string RoomForAnObject() {
  std::string text;
  text.reserve(1024);
  return text;
}

std::optional<double> Euclid(const std::optional<double>& a, const std::optional<double>& b) {
  if (!a || !b) return std::nullopt;
  return std::hypot(*a, *b);
}

std::string SatelliteJson(const SatelliteInView& satellite) {
  std::string json = "{\"PRN\":" + std::to_string(satellite.id.prn) +
                     ",\"gnssid\":" + std::to_string(static_cast<int>(satellite.id.constellation)) +
                     ",\"svid\":" + std::to_string(satellite.id.svid);
  const auto number = [&json](std::string_view name, const std::optional<double>& value) {
    if (!value) return;
    json.append(",\"").append(name).append("\":");
    AppendFixed(*value, 1, json);
  };
  number("el", satellite.elevation);
  number("az", satellite.azimuth);
  number("ss", satellite.snr);
  json += satellite.used ? ",\"used\":true}" : ",\"used\":false}";
  return json;
}

// "[a,b,...]" (appended, not "[" + text: GCC 12 warns falsely on that).
std::string JsonArray(const std::vector<std::string>& elements) {
  std::string array(1, '[');
  for (const std::string& element : elements) {
    if (array.size() > 1) array += ',';
    array.append(element);
  }
  array += ']';
  return array;
}

}  // namespace

std::string TpvJson(const Fix& fix, std::string_view device) {
  std::string json = RoomForAnObject();
  AppendTpvJson(fix, device, json);
  return json;
}

std::string SkyJson(const Fix& fix, std::string_view device) {
  std::string json = RoomForAnObject();
  AppendSkyJson(fix, device, json);
  return json;
}

void AppendTpvJson(const Fix& fix, std::string_view device, std::string& json) {
  JsonObject tpv("TPV", json);
  tpv.Text("device", device);
  tpv.Integer("mode", static_cast<int>(fix.mode));
  if (fix.status != FixStatus::kUnknown) tpv.Integer("status", static_cast<int>(fix.status));
  tpv.Time("time", fix);
  tpv.Number("lat", fix.latitude, 9);
  tpv.Number("lon", fix.longitude, 9);
  tpv.Number("altHAE", fix.altitude_hae, 4);
  tpv.Number("altMSL", fix.altitude_msl, 4);
  tpv.Number("alt", fix.altitude_msl, 4);
  tpv.Number("geoidSep", fix.geoid_separation, 3);
  tpv.Number("speed", fix.speed, 3);
  tpv.Number("track", fix.course, 4);
  tpv.Number("magvar", fix.magnetic_variation, 1);
  tpv.Number("climb", fix.climb, 3);
  tpv.Number("epx", fix.longitude_error, 3);
  tpv.Number("epy", fix.latitude_error, 3);
  tpv.Number("eph", Euclid(fix.latitude_error, fix.longitude_error), 3);
  tpv.Number("epv", fix.altitude_error, 3);
  tpv.Close();
}

void AppendSkyJson(const Fix& fix, std::string_view device, std::string& json) {
  JsonObject sky("SKY", json);
  sky.Text("device", device);
  sky.Time("time", fix);
  sky.Number("hdop", fix.hdop, 2);
  sky.Number("vdop", fix.vdop, 2);
  sky.Number("pdop", fix.pdop, 2);
  if (!fix.in_view.empty()) sky.Integer("nSat", static_cast<long>(fix.in_view.size()));
  if (fix.satellites_used) sky.Integer("uSat", *fix.satellites_used);
  if (!fix.in_view.empty()) {
    std::string list = "[";
    for (const SatelliteInView& satellite : fix.in_view) {
      if (list.size() > 1) list += ',';
      list += SatelliteJson(satellite);
    }
    sky.Raw("satellites", list + "]");
  }
  sky.Close();
}

std::string PollJson(const Fix& fix, std::string_view device) {
  const DeviceEpoch epoch{&fix, device};
  return PollJson(std::span(&epoch, 1), IsoTimeText(fix));
}

std::string PollJson(std::span<const DeviceEpoch> epochs, std::string_view time) {
  std::vector<std::string> tpvs;
  std::vector<std::string> skies;
  for (const auto& [fix, device] : epochs) {
    tpvs.push_back(TpvJson(*fix, device));
    skies.push_back(SkyJson(*fix, device));
  }
  std::string json = RoomForAnObject();
  JsonObject poll("POLL", json);
  poll.Text("time", time);
  poll.Integer("active", static_cast<long>(epochs.size()));
  poll.Raw("tpv", JsonArray(tpvs));
  poll.Raw("sky", JsonArray(skies));
  poll.Close();
  return json;
}

bool HasSky(const Fix& fix) {
  return fix.hdop || fix.vdop || fix.pdop || fix.satellites_used || !fix.in_view.empty();
}

uint64_t SkyDigest(const Fix& fix) {
  // Each value mixed in whole (an absent one as a value of its own): a multiplication by an odd
  // constant and a fold of the high half into the low, as hash functions of 64-bit words do.
  uint64_t digest = 14695981039346656037ULL;
  const auto mix = [&digest](uint64_t value) {
    digest = (digest ^ value) * 0x9e3779b97f4a7c15ULL;
    digest ^= digest >> 32;
  };
  const auto mix_optional = [&mix](const std::optional<double>& value) {
    mix(value ? std::bit_cast<uint64_t>(*value) : 0x7ff8dead00000000ULL);
  };
  mix_optional(fix.hdop);
  mix_optional(fix.vdop);
  mix_optional(fix.pdop);
  mix(static_cast<uint64_t>(fix.satellites_used.value_or(-1)));
  for (const SatelliteInView& satellite : fix.in_view) {
    mix(static_cast<uint64_t>(satellite.id.prn) << 1 | (satellite.used ? 1 : 0));
    mix_optional(satellite.elevation);
    mix_optional(satellite.azimuth);
    mix_optional(satellite.snr);
  }
  return digest;
}

namespace {

struct LastSky final : StreamState {
  std::optional<uint64_t> digest;
};

}  // namespace

bool SkyChanges::Take(const Fix& fix, const std::string& stream) {
  if (!HasSky(fix)) return false;
  const uint64_t sky = SkyDigest(fix);
  auto& last = streams_.Kept<LastSky>(slot_, stream, [] { return std::make_unique<LastSky>(); });
  if (last.digest == sky) return false;
  last.digest = sky;
  return true;
}

}  // namespace quorvane
