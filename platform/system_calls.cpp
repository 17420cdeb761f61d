#include "platform/system_calls.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/port_table.hpp"

namespace quorvane::SystemCalls {
namespace {

// A tty with a device behind it; for the 8250 family (ttyS), one whose port has a UART: the
// kernel keeps placeholders ttyS0-3 (or more) whose UART type is 0 (unknown), with nothing there.
bool HasHardware(const std::filesystem::path& tty) {
  std::error_code error;
  if (!std::filesystem::exists(tty / "device", error)) return false;
  if (!tty.filename().string().starts_with("ttyS")) return true;
  std::ifstream type_file(tty / "type");
  int type = 0;
  return static_cast<bool>(type_file >> type) && type != 0;
}

std::vector<int16_t> NumbersOfPresentDevices(const std::filesystem::path& sys_class_tty) {
  std::vector<int16_t> numbers;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(sys_class_tty, error)) {
    if (!HasHardware(entry.path())) continue;
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

std::string SaveTextFile(const std::string& FileName, std::string_view Text) {
  const auto failure = [&FileName](const std::string& reason) {
    return "Cannot write " + FileName + ": " + reason;
  };
  if (FileName.empty()) return failure("no file name");
  std::error_code status_error;
  const auto status = std::filesystem::status(FileName, status_error);
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
    return failure("not a regular file");
  }
  const std::filesystem::path path(FileName);
  const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
  std::string hidden_name = ".";
  hidden_name += path.filename().string();
  hidden_name += ".XXXXXX";
  std::string temporary = (folder / hidden_name).string();
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) return failure(std::generic_category().message(errno));
  std::string_view rest = Text;
  while (!rest.empty()) {
    const ssize_t length = ::write(fd, rest.data(), rest.size());
    if (length < 0 && errno == EINTR) continue;
    if (length <= 0) break;
    rest.remove_prefix(static_cast<size_t>(length));
  }
  const int write_error = rest.empty() ? 0 : (errno != 0 ? errno : EIO);
  const bool complete = rest.empty() && ::fchmod(fd, 0644) == 0 && ::fsync(fd) == 0;
  const int complete_error = complete ? 0 : (write_error != 0 ? write_error : errno);
  if (::close(fd) != 0 || !complete || ::rename(temporary.c_str(), FileName.c_str()) != 0) {
    const int error_number = complete_error != 0 ? complete_error : errno;
    ::unlink(temporary.c_str());
    return failure(std::generic_category().message(error_number));
  }
  return {};
}

ClockReading ReadClock() {
  // Decoding reads the clock for every position; the broken-down time changes once a second,
  // so it is worked out once a second (per thread, as controls may run on several).
  thread_local time_t cached_second = -1;
  thread_local ClockReading cached;
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  if (now.tv_sec != cached_second) {
    tm local{};
    ::localtime_r(&now.tv_sec, &local);
    cached = ClockReading{local.tm_year + 1900,
                          local.tm_mon + 1,
                          local.tm_mday,
                          local.tm_hour,
                          local.tm_min,
                          local.tm_sec,
                          0,
                          static_cast<int>(local.tm_gmtoff / 60)};
    cached_second = now.tv_sec;
  }
  ClockReading reading = cached;
  reading.hundredths = static_cast<int>(now.tv_nsec / 10'000'000);
  return reading;
}

int32_t GetTimeZoneBias() {
  ::tzset();
  return static_cast<int32_t>(::timezone / 60);
}

std::string GetTimeZoneStandardName() {
  ::tzset();
  return ::tzname[0] != nullptr ? std::string(::tzname[0]) : std::string();
}

std::optional<int64_t> NearestMomentWithTimeOfDay(int64_t now, int32_t offset_seconds, int hour,
                                                  int minute, int second) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) {
    return std::nullopt;
  }
  constexpr int64_t kDay = 86400;
  const int64_t local_now = now + offset_seconds;
  const int64_t local_midnight = local_now - ((local_now % kDay) + kDay) % kDay;
  int64_t local_moment = local_midnight + hour * 3600 + minute * 60 + second;
  if (local_moment - local_now > kDay / 2) local_moment -= kDay;
  if (local_now - local_moment > kDay / 2) local_moment += kDay;
  return local_moment - offset_seconds;
}

namespace {

void SetClockToTimeOfDay(bool local, int hour, int minute, int second) {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  int32_t offset = 0;
  if (local) {
    tm broken_down{};
    ::localtime_r(&now.tv_sec, &broken_down);
    offset = static_cast<int32_t>(broken_down.tm_gmtoff);
  }
  const auto moment = NearestMomentWithTimeOfDay(now.tv_sec, offset, hour, minute, second);
  if (!moment) return;
  const timespec target{static_cast<time_t>(*moment), 0};
  ::clock_settime(CLOCK_REALTIME, &target);
}

}  // namespace

void SetLocalClock(int16_t hour, int16_t minute, int16_t second) {
  SetClockToTimeOfDay(true, hour, minute, second);
}

void SetUtcClock(int16_t hour, int16_t minute, int16_t second) {
  SetClockToTimeOfDay(false, hour, minute, second);
}

void ShellOpen(const std::string& address) {
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  ::posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  std::string program = "xdg-open";
  std::string argument = address;
  char* arguments[] = {program.data(), argument.data(), nullptr};
  pid_t child = 0;
  const int result = ::posix_spawnp(&child, "xdg-open", &actions, nullptr, arguments, environ);
  ::posix_spawn_file_actions_destroy(&actions);
  // The browser may take its time; a thread of its own collects the child so none is left behind.
  if (result == 0) std::thread([child] { ::waitpid(child, nullptr, 0); }).detach();
}

}  // namespace quorvane::SystemCalls
