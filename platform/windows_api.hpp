#pragma once
// The operating-system calls the control makes, gathered in one module so a reader sees at once
// what the control asks of the machine. Linux implementations.

#include <filesystem>
#include <string>

namespace quorvane::WindowsAPI {

// The serial ports the machine has, as "COM1,COM33" (StripPrefix false) or "1,33": the tty
// devices that have hardware behind them (an entry of /sys/class/tty with a "device" link)
// reachable through the port table, plus every number the host assigned; ascending, each once.
// Empty when there are none.
std::string ListSerialPorts(bool StripPrefix,
                            const std::filesystem::path& sys_class_tty = "/sys/class/tty");

}  // namespace quorvane::WindowsAPI
