#include "apps/gps_monitor/replay.hpp"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include <asio/post.hpp>

#include "nmea/text_rules.hpp"

namespace quorvane::monitor {
namespace {

// As fast as it goes, fixes are written in batches of about this size.
constexpr size_t kBatch = 16 * 1024;
// A log without GGA sentences is still written in pieces of at most this size.
constexpr size_t kLargestFix = 64 * 1024;

// Seconds of the day in a GGA sentence's time field, or -1.
double FixSeconds(std::string_view gga) {
  const size_t comma = gga.find(',');
  if (comma == std::string_view::npos || gga.size() < comma + 7) return -1;
  const std::string_view time = gga.substr(comma + 1);
  return ReadLeadingNumber(time.substr(0, 2)) * 3600 + ReadLeadingNumber(time.substr(2, 2)) * 60 +
         ReadLeadingNumber(time.substr(4));
}

}  // namespace

Replay::Replay(asio::io_context& io, const std::string& log, double speed, bool lockstep)
    : io_(io), log_(log, std::ios::binary), speed_(speed), lockstep_(lockstep) {
  if (!log_) throw std::runtime_error("cannot read " + log);
  std::error_code size_error;
  log_size_ = std::filesystem::file_size(log, size_error);
  int slave = -1;
  std::array<char, 128> name{};
  if (::openpty(&master_, &slave, name.data(), nullptr, nullptr) != 0 || ::pipe(wake_) != 0) {
    throw std::runtime_error(std::string("cannot open a pseudo-terminal: ") + std::strerror(errno));
  }
  // The control opens the slave itself; ours is not needed once the terminal exists.
  ::close(slave);
  ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
  device_path_ = name.data();
}

Replay::~Replay() {
  stopping_ = true;
  if (::write(wake_[1], "x", 1) < 0) {
    // The pipe is ours and empty; a failed wake-up leaves only the condition variable.
  }
  taken_changed_.notify_all();
  if (writer_.joinable()) writer_.join();
  ::close(master_);
  ::close(wake_[0]);
  ::close(wake_[1]);
}

void Replay::Begin(std::function<void()> on_finished) {
  on_finished_ = std::move(on_finished);
  writer_ = std::thread([this] { WriteLog(); });
}

bool Replay::ReadFix(std::string& text, double& fix_seconds) {
  const size_t before = text.size();
  bool has_gga = false;
  std::string line;
  if (!next_gga_.empty()) {
    line.swap(next_gga_);
  } else if (!std::getline(log_, line)) {
    return false;
  }
  do {
    // A receiver ends its lines in CR LF, whatever the log does.
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.starts_with("$GPGGA")) {
      if (has_gga) {
        next_gga_ = std::move(line);
        break;
      }
      has_gga = true;
      fix_seconds = FixSeconds(line);
    }
    if (!line.empty()) text.append(line).append("\r\n");
  } while (text.size() - before < kLargestFix && std::getline(log_, line));
  return text.size() > before;
}

void Replay::WriteLog() {
  const auto begun = std::chrono::steady_clock::now();
  double receiver_seconds = 0;  // on the receiver's clock since the first fix
  double previous = -1;
  std::string text;
  for (bool more = true; more && !stopping_;) {
    text.clear();
    double seconds = -1;
    more = ReadFix(text, seconds);
    if (speed_ == 0 && !lockstep_) {
      while (more && text.size() < kBatch) more = ReadFix(text, seconds);
    }
    if (text.empty()) break;
    if (speed_ > 0) {
      if (previous >= 0 && seconds >= 0) {
        double gap = seconds - previous;
        if (gap < 0) gap += 86400;               // past midnight
        receiver_seconds += gap > 60 ? 1 : gap;  // a jump in the log is no pause to wait for
      } else if (previous >= 0 || seconds < 0) {
        receiver_seconds += 1;
      }
      if (seconds >= 0) previous = seconds;
      const auto due = begun + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                   std::chrono::duration<double>(receiver_seconds / speed_));
      if (!WaitUntil(due)) return;
    }
    if (lockstep_ && !WaitForTheControl()) return;
    if (!WriteAll(text)) return;
  }
  all_written_ = true;
  asio::post(io_, [this, alive = std::weak_ptr<char>(alive_)] {
    if (!alive.expired()) CheckFinished();
  });
}

bool Replay::WaitUntil(std::chrono::steady_clock::time_point due) {
  for (;;) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(due - std::chrono::steady_clock::now());
    if (left.count() <= 0) return !stopping_;
    pollfd wake{wake_[0], POLLIN, 0};
    if (::poll(&wake, 1, static_cast<int>(left.count())) > 0 || stopping_) return false;
  }
}

bool Replay::WaitForTheControl() {
  std::unique_lock lock(mutex_);
  taken_changed_.wait(lock, [this] { return stopping_ || taken_ >= written_; });
  return !stopping_;
}

bool Replay::WriteAll(std::string_view text) {
  while (!text.empty()) {
    const ssize_t length = ::write(master_, text.data(), text.size());
    if (length > 0) {
      text.remove_prefix(static_cast<size_t>(length));
      written_ += static_cast<uint64_t>(length);
      continue;
    }
    if (length < 0 && errno != EAGAIN && errno != EINTR) return false;
    // The terminal is full until the control reads; wait for room or for the end.
    std::array<pollfd, 2> ready{{{master_, POLLOUT, 0}, {wake_[0], POLLIN, 0}}};
    ::poll(ready.data(), ready.size(), -1);
    if (stopping_) return false;
  }
  return true;
}

void Replay::Taken(size_t bytes) {
  {
    std::lock_guard lock(mutex_);
    taken_ += bytes;
  }
  taken_changed_.notify_one();
  CheckFinished();
}

void Replay::CheckFinished() {
  if (finished_ || !all_written_ || taken_ < written_) return;
  finished_ = true;
  if (on_finished_) on_finished_();
}

double Replay::ShareDone() const {
  if (finished_) return 1;
  const double taken = static_cast<double>(taken_.load());
  return log_size_ > 0 ? std::min(1.0, taken / static_cast<double>(log_size_)) : 0;
}

}  // namespace quorvane::monitor
