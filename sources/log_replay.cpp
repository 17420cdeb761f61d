#include "sources/log_replay.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>
#include <utility>

#include <asio/post.hpp>

#include "base/time_of_day.hpp"
#include "sources/source_factory.hpp"

namespace quorvane {
namespace {

// The file is read in pieces of this size.
constexpr size_t kPiece = 64 * 1024;
// A block is at most what one UDP datagram carries, since it may be rebroadcast as one; a line
// longer than fits with its CR LF (no receiver sends one) is cut.
constexpr size_t kLargestBlock = 65507;
constexpr size_t kLongestLine = kLargestBlock - 2;
constexpr double kSecondsPerDay = 86400;
// A longer silence in the log is a gap in the recording, not a pause to sit through.
constexpr double kLongestPause = 60;

bool IsGga(std::string_view line) {
  return line.size() >= 6 && line[0] == '$' && line.substr(3, 3) == "GGA";
}

// The time of day of a GGA line in seconds, or -1 when its time field is too short.
double FixSecondsOf(std::string_view gga) {
  const size_t comma = gga.find(',');
  if (comma == std::string_view::npos || gga.size() < comma + 7) return -1;
  return TimeOfDayOf(gga.substr(comma + 1)).seconds_of_day;
}

std::string Reason(int error_number) {
  return std::generic_category().message(error_number);
}

}  // namespace

LogReplay::LogReplay(asio::io_context& io, const std::string& path, double speed)
    : io_(io), timer_(io), path_(path), speed_(speed) {
  // Non-blocking, so that opening a FIFO does not wait for its writer.
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd_ < 0) throw std::runtime_error("Cannot read " + path + ": " + Reason(errno));
  struct stat status {};
  // Reading anything but a file (a pipe, a terminal) could wait, and the loop must not.
  if (::fstat(fd_, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    throw std::runtime_error("Cannot read " + path + ": not a regular file");
  }
  size_ = static_cast<uint64_t>(status.st_size);
}

LogReplay::~LogReplay() {
  Close();
}

void LogReplay::Begin(BlockHandler on_block) {
  on_block_ = std::move(on_block);
  begun_ = std::chrono::steady_clock::now();
  HandOnNext();
}

void LogReplay::Close() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
  timer_.cancel();
}

double LogReplay::ShareDone() const {
  if (size_ == 0) return fd_ < 0 ? 1 : 0;
  return std::min(1.0, static_cast<double>(consumed_) / static_cast<double>(size_));
}

void LogReplay::ReadMore() {
  // What is left moves to the front and the file is read in after it, into room kept from the
  // reads before: room the read fills is never cleared first.
  const size_t left = raw_end_ - raw_start_;
  std::memmove(raw_.data(), raw_.data() + raw_start_, left);
  raw_start_ = 0;
  if (raw_.size() < left + kPiece) raw_.resize(left + kPiece);
  ssize_t length;
  do {
    length = ::read(fd_, raw_.data() + left, kPiece);
  } while (length < 0 && errno == EINTR);
  // A log that cannot be read on ends where it could be read.
  raw_end_ = left + static_cast<size_t>(length > 0 ? length : 0);
  if (length <= 0) end_of_file_ = true;
}

bool LogReplay::NextLine(std::string_view& line) {
  for (;;) {
    const std::string_view rest(raw_.data() + raw_start_, raw_end_ - raw_start_);
    // A line ends at LF, CR LF or a CR alone (a log that ends its lines so replays too).
    // Two searches for one character each: a search for either of two goes character by character.
    const size_t line_feed = rest.find('\n');
    const size_t end = std::min(rest.substr(0, line_feed).find('\r'), line_feed);
    size_t taken = end == std::string_view::npos ? 0 : end + 1;
    if (taken && rest[end] == '\r' && end + 1 < rest.size() && rest[end + 1] == '\n') ++taken;
    line = rest.substr(0, end);
    if (!taken && rest.size() >= kLongestLine) {
      // A line longer than any block is no receiver's: it is dropped whole, never cut into a
      // shorter one that would end where no receiver ended it.
      consumed_ += rest.size();
      raw_start_ += rest.size();
      dropping_long_line_ = true;
      continue;
    }
    if (!taken) {
      if (!end_of_file_) {
        ReadMore();
        continue;
      }
      if (rest.empty()) return false;
      taken = rest.size();  // the last line, without a line end
    }
    raw_start_ += taken;
    consumed_ += taken;
    // The end of a line dropped before, or a whole one too long.
    if (std::exchange(dropping_long_line_, false) || line.size() > kLongestLine) continue;
    return true;
  }
}

void LogReplay::AppendLine(std::string_view line, std::string& block) {
  // A "#" line is a note of whoever kept the log, not the receiver's.
  if (line.empty() || line[0] == '#') return;
  block.append(line).append("\r\n");
}

bool LogReplay::NextBlock(std::string& block, double& fix_seconds) {
  const bool paced = speed_ != kAsFastAsItGoes;
  block.clear();
  fix_seconds = -1;
  bool has_gga = false;
  std::string taken_back;
  for (;;) {
    std::string_view line;
    if (!held_.empty()) {
      taken_back.swap(held_);
      held_.clear();
      line = taken_back;
    } else if (!NextLine(line)) {
      break;
    }
    // A paced block is one fix; any block fits one datagram, as a relayed block must.
    const bool starts_fix = paced && IsGga(line);
    const bool too_long = !block.empty() && block.size() + line.size() + 2 > kLargestBlock;
    if ((starts_fix && has_gga) || too_long) {
      held_.assign(line);
      break;
    }
    if (starts_fix) {
      has_gga = true;
      fix_seconds = FixSecondsOf(line);
    }
    AppendLine(line, block);
  }
  return !block.empty();
}

std::chrono::steady_clock::duration LogReplay::DueAfter(double fix_seconds) {
  if (previous_fix_ >= 0 && fix_seconds >= 0) {
    double gap = fix_seconds - previous_fix_;
    if (gap < 0) gap += kSecondsPerDay;  // past midnight
    receiver_seconds_ += gap > kLongestPause ? 1 : gap;
  } else if (previous_fix_ >= 0 || fix_seconds < 0) {
    receiver_seconds_ += 1;  // a block without a time comes a second after the one before
  }
  if (fix_seconds >= 0) previous_fix_ = fix_seconds;
  return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(receiver_seconds_ / speed_));
}

void LogReplay::HandOnNext() {
  if (!IsOpen()) return;
  double fix_seconds = -1;
  if (!NextBlock(block_, fix_seconds)) {
    Finish();
    return;
  }
  auto hand_on = [this, alive = alive_.Watch()] {
    if (alive.expired() || !IsOpen()) return;
    on_block_(block_, {});
    // The receive path may have closed this source, or destroyed it.
    if (!alive.expired()) HandOnNext();
  };
  if (speed_ == kAsFastAsItGoes) {
    asio::post(io_, std::move(hand_on));
    return;
  }
  timer_.expires_at(begun_ + DueAfter(fix_seconds));
  timer_.async_wait([hand_on = std::move(hand_on)](const std::error_code& error) {
    if (!error) hand_on();
  });
}

void LogReplay::Finish() {
  Close();
  asio::post(io_, [this, alive = alive_.Watch()] {
    if (!alive.expired() && on_end_) on_end_();
  });
}

void RegisterLogSources(SourceFactory& factory) {
  factory.Register(SourceAddress::Scheme::kFile, [](const SourceAddress& address,
                                                    const std::string& text,
                                                    const SourceContext& context) {
    return MadeSource{std::make_shared<LogReplay>(context.io, address.path, address.speed), text};
  });
}

}  // namespace quorvane
