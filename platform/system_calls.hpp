#pragma once
// The operating-system calls the control makes, gathered in one module so a reader sees at once
// what the control asks of the machine. Linux implementations.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/platform.hpp"

namespace quorvane::SystemCalls {

// The serial ports the machine has, as "COM1,COM33" (StripPrefix false) or "1,33": the tty
// devices that have hardware behind them (an entry of /sys/class/tty with a "device" link)
// reachable through the port table, plus every number the host assigned; ascending, each once.
// Empty when there are none.
std::string ListSerialPorts(bool StripPrefix,
                            const std::filesystem::path& sys_class_tty = "/sys/class/tty");

// Replaces the file `FileName` with exactly `Text`: written to a temporary file in the same
// folder and renamed over it, so that a reader never sees it half written. Only a regular file
// (or nothing) at the path is replaced. Returns why it could not be saved, naming the file
// (nothing at the path is touched then), or an empty text.
std::string SaveTextFile(const std::string& FileName, std::string_view Text);

// The computer's clock now, in the zone of the TZ variable (or the system's zone).
ClockReading ReadClock();

// Standard bias in minutes (UTC = local standard time + bias) and the standard time's name,
// read afresh from TZ or the system's zone.
int32_t GetTimeZoneBias();
std::string GetTimeZoneStandardName();

// Set the computer's clock (clock_settime; it needs the right to do so) to a local or UTC time
// of day on the nearest date. Failures are ignored.
void SetLocalClock(int16_t hour, int16_t minute, int16_t second);
void SetUtcClock(int16_t hour, int16_t minute, int16_t second);

// Starts xdg-open on `address` (no shell in between, its output discarded) and does not wait
// for it; the result is ignored.
void ShellOpen(const std::string& address);

// The moment, in seconds since the epoch, whose time of day in a zone `offset_seconds` east of
// UTC is hour:minute:second and which lies nearest to `now` (at most 12 hours away): a time
// of 23:59:59 taken just after midnight belongs to the day before. Nothing for a field out of
// range.
std::optional<int64_t> NearestMomentWithTimeOfDay(int64_t now, int32_t offset_seconds, int hour,
                                                  int minute, int second);

}  // namespace quorvane::SystemCalls
