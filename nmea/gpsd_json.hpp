#pragma once
// An epoch in the JSON classes of gpsd's protocol, which Linux tools (gpspipe, cgps, the gps
// Python module, chrony's helpers, many scripts) already read: TPV (time, position, velocity)
// and SKY (satellites and dilutions of precision). Names and units are that protocol's; a value
// the epoch lacks is left out, never written as 0. Each object is one line without its line end.

#include <string>
#include <string_view>

#include "fix.hpp"

namespace quorvane {

// `device` names the stream (a fleet's vehicle); empty leaves "device" out.
std::string TpvJson(const Fix& fix, std::string_view device);
std::string SkyJson(const Fix& fix, std::string_view device);
// The epoch whole, as gpsd answers a poll: {"class":"POLL","time":...,"active":1,"tpv":[TPV],
// "sky":[SKY]}.
std::string PollJson(const Fix& fix, std::string_view device);

// The satellites and dilutions of two epochs are the same: a SKY would repeat the last one.
bool SameSky(const Fix& a, const Fix& b);

}  // namespace quorvane
