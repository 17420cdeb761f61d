#include "base/replaced_file.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace quorvane {

namespace {

// The descriptor of `path` opened for writing, locked and emptied, or -1 with the failure said.
int OpenForRecording(const std::string& path, std::string& failure) {
  // Non-blocking, so a FIFO without a reader cannot stall the open; without following a link.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK,
                        0644);
  if (fd < 0) {
    failure = errno == ELOOP ? "Cannot record to " + path + ": it is a symbolic link"
                             : "Cannot open " + path + ": " + std::generic_category().message(errno);
    return -1;
  }
  struct stat status {};
  std::string fault;
  if (::fstat(fd, &status) != 0) {
    fault = std::generic_category().message(errno);
  } else if (!S_ISREG(status.st_mode)) {
    fault = "not a regular file";
  } else if (status.st_nlink != 1) {
    fault = "it has other names (hard links) whose file it would replace";
  } else if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    fault = errno == EWOULDBLOCK ? "another recording is writing to it"
                                 : std::generic_category().message(errno);
  } else if (::ftruncate(fd, 0) != 0 || ::fcntl(fd, F_SETFL, 0) != 0) {
    fault = std::generic_category().message(errno);
  }
  if (fault.empty()) return fd;
  ::close(fd);
  failure = "Cannot record to " + path + ": " + fault;
  return -1;
}

}  // namespace

bool ReplacedFile::Open(const std::string& path) {
  Close();
  path_ = path;
  failure_.clear();
  // A folder or a device is said as such before anything is opened.
  std::error_code status_error;
  const auto status = std::filesystem::symlink_status(path, status_error);
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status) &&
      !std::filesystem::is_symlink(status)) {
    failure_ = "Cannot record to " + path + ": not a regular file";
    return false;
  }
  const int fd = OpenForRecording(path, failure_);
  if (fd < 0) return false;
  buffer_ = std::make_unique<__gnu_cxx::stdio_filebuf<char>>(
      fd, std::ios::out | std::ios::binary, kBufferSize);
  stream_.rdbuf(buffer_.get());
  stream_.clear();
  return true;
}

void ReplacedFile::Flush() {
  if (!IsOpen()) return;
  stream_.flush();
  CheckWritten();
}

void ReplacedFile::Close() {
  if (!IsOpen()) return;
  Flush();
  CloseDescriptor();
}

void ReplacedFile::CloseDescriptor() {
  stream_.rdbuf(nullptr);
  buffer_.reset();  // closes the file, and so unlocks it
}

void ReplacedFile::CheckWritten() {
  if (stream_.good()) return;
  // The disk is full, or the file went away: the first failure is kept.
  const int error_number = errno;
  if (failure_.empty()) {
    failure_ = "Cannot write " + path_ + ": " + std::generic_category().message(error_number);
  }
  CloseDescriptor();
}

std::string ReplacedFile::TakeFailure() {
  std::string failure;
  failure.swap(failure_);
  return failure;
}

}  // namespace quorvane
