#pragma once
// Serial port numbers and the devices behind them. Numbers 1-32 are /dev/ttyS0-31, 33-64
// /dev/ttyUSB0-31 and 65-96 /dev/ttyACM0-31; a host may assign any number from 1 up to any
// device path (a pseudo-terminal, /dev/serial/by-id/..., /dev/rfcomm0), which then takes
// precedence. The table is shared by the whole process.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane {

// The device behind `number`, or nullopt for 0, a negative number or an unmapped one.
std::optional<std::string> DevicePathOfPort(int16_t number);

// Assigns `number` to `device_path`; an empty path removes the assignment. Numbers below 1
// cannot be assigned (returns false).
bool AssignPort(int16_t number, std::string_view device_path);

// The number under which `device_path` is reachable: an assigned one first, else the built-in
// one unless that number has been assigned elsewhere.
std::optional<int16_t> PortNumberOfDevice(std::string_view device_path);

// Every assigned number, ascending.
std::vector<int16_t> AssignedPortNumbers();

// The first number from 200 up that has no assignment, given to `device_path`.
int16_t AssignFreePortNumber(std::string_view device_path);

}  // namespace quorvane
