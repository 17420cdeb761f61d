#include "base/replaced_file.hpp"

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace quorvane {

std::string OpenReplacing(const std::string& path, std::ofstream& file) {
  std::error_code status_error;
  const auto status = std::filesystem::status(path, status_error);
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
    return "Cannot record to " + path + ": not a regular file";
  }
  file.open(path, std::ios::binary | std::ios::out | std::ios::trunc);
  if (!file.is_open()) return "Cannot open " + path + ": " + std::generic_category().message(errno);
  return {};
}

}  // namespace quorvane
