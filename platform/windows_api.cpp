#include "platform/windows_api.hpp"

#include <algorithm>
#include <system_error>
#include <vector>

#include "platform/port_table.hpp"

namespace quorvane::WindowsAPI {
namespace {

std::vector<int16_t> NumbersOfPresentDevices(const std::filesystem::path& sys_class_tty) {
  std::vector<int16_t> numbers;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(sys_class_tty, error)) {
    std::error_code exists_error;
    if (!std::filesystem::exists(entry.path() / "device", exists_error)) continue;
    const auto number = PortNumberOfDevice("/dev/" + entry.path().filename().string());
    if (number) numbers.push_back(*number);
  }
  return numbers;
}

}  // namespace

std::string ListSerialPorts(bool StripPrefix, const std::filesystem::path& sys_class_tty) {
  std::vector<int16_t> numbers = NumbersOfPresentDevices(sys_class_tty);
  const std::vector<int16_t> assigned = AssignedPortNumbers();
  numbers.insert(numbers.end(), assigned.begin(), assigned.end());
  std::sort(numbers.begin(), numbers.end());
  numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());

  std::string list;
  for (const int16_t number : numbers) {
    if (!list.empty()) list += ',';
    if (!StripPrefix) list += "COM";
    list += std::to_string(number);
  }
  return list;
}

}  // namespace quorvane::WindowsAPI
