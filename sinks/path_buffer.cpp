#include "sinks/path_buffer.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace quorvane {
namespace {

bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t length = ::write(fd, text.data(), text.size());
    if (length < 0 && errno == EINTR) continue;
    if (length <= 0) return false;
    text.remove_prefix(static_cast<size_t>(length));
  }
  return true;
}

}  // namespace

PathBuffer::~PathBuffer() {
  CloseSpool();
}

void PathBuffer::SpoolTo(const std::filesystem::path& spool) {
  CloseSpool();
  // Non-blocking and without following a link, so a FIFO or a link planted at the path can
  // neither stall the recording nor redirect it.
  const int fd =
      ::open(spool.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
  if (fd < 0) return;
  struct stat status {};
  // A spool that is another name of some file (a hard link) would empty that file.
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_nlink != 1 ||
      ::ftruncate(fd, 0) != 0) {
    ::close(fd);
    return;
  }
  spool_fd_ = fd;
  spool_writable_ = true;
  spool_path_ = spool;
}

void PathBuffer::CloseSpool() {
  if (spool_fd_ < 0) return;
  ::close(spool_fd_);
  spool_fd_ = -1;
  spool_writable_ = false;
  std::error_code ignored;
  std::filesystem::remove(spool_path_, ignored);
  spooled_ = 0;
}

void PathBuffer::Spill() {
  for (const auto& piece : pieces_) {
    if (!WriteAll(spool_fd_, piece)) {
      // A spool that cannot take more (a full disk) keeps what it has, and the text from here
      // on stays in memory.
      spool_writable_ = false;
      const off_t kept = static_cast<off_t>(spooled_);
      if (::ftruncate(spool_fd_, kept) != 0 || ::lseek(spool_fd_, kept, SEEK_SET) != kept) {
        // Only the first `spooled_` bytes are ever read back, whatever lies past them.
      }
      return;
    }
  }
  for (const auto& piece : pieces_) spooled_ += piece.size();
  pieces_.clear();
}

void PathBuffer::Append(std::string_view text) {
  if (pieces_.empty() || pieces_.back().size() + text.size() > kPieceSize) {
    if (spool_writable_ && !pieces_.empty()) Spill();
    pieces_.emplace_back().reserve(std::max(kPieceSize, text.size()));
  }
  pieces_.back().append(text);
  size_ += text.size();
}

void PathBuffer::Clear() {
  pieces_.clear();
  size_ = 0;
  CloseSpool();
}

void PathBuffer::ForEachPiece(const std::function<void(std::string_view)>& piece) const {
  if (spooled_ > 0) {
    std::string chunk(kPieceSize, '\0');
    for (size_t offset = 0; offset < spooled_;) {
      const size_t wanted = std::min(kPieceSize, spooled_ - offset);
      const ssize_t length = ::pread(spool_fd_, chunk.data(), wanted, static_cast<off_t>(offset));
      if (length <= 0) break;
      piece(std::string_view(chunk.data(), static_cast<size_t>(length)));
      offset += static_cast<size_t>(length);
    }
  }
  for (const auto& in_memory : pieces_) piece(in_memory);
}

std::string PathBuffer::Text() const {
  std::string text;
  text.reserve(size_);
  ForEachPiece([&text](std::string_view piece) { text += piece; });
  return text;
}

}  // namespace quorvane
