#include "platform/port_table.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <map>
#include <mutex>

namespace quorvane {
namespace {

struct DeviceFamily {
  std::string_view prefix;
  int16_t first_number;
};

constexpr int16_t kFamilySize = 32;
constexpr std::array<DeviceFamily, 3> kFamilies{{
    {"/dev/ttyS", 1},
    {"/dev/ttyUSB", 33},
    {"/dev/ttyACM", 65},
}};

struct Assignments {
  std::mutex mutex;
  std::map<int16_t, std::string> by_number;
};

Assignments& TheAssignments() {
  static Assignments assignments;
  return assignments;
}

std::optional<std::string> BuiltInDevice(int16_t number) {
  for (const auto& family : kFamilies) {
    const int index = number - family.first_number;
    if (index >= 0 && index < kFamilySize) {
      return std::string(family.prefix) + std::to_string(index);
    }
  }
  return std::nullopt;
}

std::optional<int16_t> BuiltInNumber(std::string_view device_path) {
  for (const auto& family : kFamilies) {
    if (!device_path.starts_with(family.prefix)) continue;
    const std::string_view digits = device_path.substr(family.prefix.size());
    int index = -1;
    const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), index);
    if (result.ec != std::errc{} || result.ptr != digits.data() + digits.size()) continue;
    if (digits.size() > 1 && digits.front() == '0') continue;
    if (index >= 0 && index < kFamilySize) {
      return static_cast<int16_t>(family.first_number + index);
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> DevicePathOfPort(int16_t number) {
  if (number < 1) return std::nullopt;
  auto& assignments = TheAssignments();
  {
    std::lock_guard lock(assignments.mutex);
    const auto found = assignments.by_number.find(number);
    if (found != assignments.by_number.end()) return found->second;
  }
  return BuiltInDevice(number);
}

bool AssignPort(int16_t number, std::string_view device_path) {
  if (number < 1) return false;
  auto& assignments = TheAssignments();
  std::lock_guard lock(assignments.mutex);
  if (device_path.empty()) {
    assignments.by_number.erase(number);
  } else {
    assignments.by_number[number] = std::string(device_path);
  }
  return true;
}

std::optional<int16_t> PortNumberOfDevice(std::string_view device_path) {
  auto& assignments = TheAssignments();
  std::lock_guard lock(assignments.mutex);
  for (const auto& [number, path] : assignments.by_number) {
    if (path == device_path) return number;
  }
  const auto built_in = BuiltInNumber(device_path);
  if (built_in && assignments.by_number.contains(*built_in)) return std::nullopt;
  return built_in;
}

std::vector<int16_t> AssignedPortNumbers() {
  auto& assignments = TheAssignments();
  std::lock_guard lock(assignments.mutex);
  std::vector<int16_t> numbers;
  numbers.reserve(assignments.by_number.size());
  for (const auto& entry : assignments.by_number) numbers.push_back(entry.first);
  return numbers;
}

int16_t AssignFreePortNumber(std::string_view device_path) {
  const auto assigned = AssignedPortNumbers();
  int16_t number = 200;
  while (std::find(assigned.begin(), assigned.end(), number) != assigned.end()) ++number;
  AssignPort(number, device_path);
  return number;
}

}  // namespace quorvane
