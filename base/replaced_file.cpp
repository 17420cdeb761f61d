#include "base/replaced_file.hpp"

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace quorvane {

bool ReplacedFile::Open(const std::string& path) {
  Close();
  path_ = path;
  failure_.clear();
  std::error_code status_error;
  const auto status = std::filesystem::status(path, status_error);
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
    failure_ = "Cannot record to " + path + ": not a regular file";
    return false;
  }
  file_.clear();
  file_.rdbuf()->pubsetbuf(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
  file_.open(path, std::ios::binary | std::ios::out | std::ios::trunc);
  if (!file_.is_open()) {
    failure_ = "Cannot open " + path + ": " + std::generic_category().message(errno);
    return false;
  }
  return true;
}

void ReplacedFile::Flush() {
  if (!file_.is_open()) return;
  file_.flush();
  CheckWritten();
}

void ReplacedFile::Close() {
  if (!file_.is_open()) return;
  Flush();
  file_.close();
}

void ReplacedFile::CheckWritten() {
  if (file_.good()) return;
  // The disk is full, or the file went away: the first failure is kept.
  const int error_number = errno;
  if (failure_.empty()) {
    failure_ = "Cannot write " + path_ + ": " + std::generic_category().message(error_number);
  }
  file_.close();
}

std::string ReplacedFile::TakeFailure() {
  std::string failure;
  failure.swap(failure_);
  return failure;
}

}  // namespace quorvane
