#pragma once
// An epoch in the JSON classes of gpsd's protocol, which Linux tools (gpspipe, cgps, the gps
// Python module, chrony's helpers, many scripts) already read: TPV (time, position, velocity)
// and SKY (satellites and dilutions of precision). Names and units are that protocol's; a value
// the epoch lacks is left out, never written as 0. Each object is one line without its line end.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "../nmea/fix.hpp"
#include "../receiver/sinks.hpp"

namespace quorvane {

// `device` names the stream (a fleet's vehicle); empty leaves "device" out.
std::string TpvJson(const Fix& fix, std::string_view device);
std::string SkyJson(const Fix& fix, std::string_view device);
// The same objects appended to `json` (a writer that keeps its text's room between epochs).
void AppendTpvJson(const Fix& fix, std::string_view device, std::string& json);
void AppendSkyJson(const Fix& fix, std::string_view device, std::string& json);
// The epoch whole, as gpsd answers a poll: {"class":"POLL","time":...,"active":1,"tpv":[TPV],
// "sky":[SKY]}.
std::string PollJson(const Fix& fix, std::string_view device);
// The last epochs of several devices as one poll, stamped `time`.
struct DeviceEpoch {
  const Fix* fix;
  std::string_view device;
};
std::string PollJson(std::span<const DeviceEpoch> epochs, std::string_view time);

// The epoch says something of the sky (dilutions, satellites used or in view): a receiver that
// says nothing of it (a sounder's GLL) has no SKY to write.
bool HasSky(const Fix& fix);

// A digest of what an epoch's SKY says (satellites and dilutions): two epochs with the same
// digest would write the same SKY, so the second need not be sent.
uint64_t SkyDigest(const Fix& fix);

// Whether an epoch says something new of the sky for its stream (the first SKY of a stream
// included): a SKY is written only when it changes. What each stream said last is kept in
// `streams` (the control's table), and goes with its stream.
class SkyChanges {
 public:
  explicit SkyChanges(StreamStates& streams) : streams_(streams), slot_(streams.NewSlot()) {}
  bool Take(const Fix& fix, const std::string& stream);

 private:
  StreamStates& streams_;
  size_t slot_;
};

}  // namespace quorvane
