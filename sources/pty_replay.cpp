#include "sources/pty_replay.hpp"

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

namespace quorvane {

PtyReplay::PtyReplay(asio::io_context& io, const std::string& log, double speed)
    : io_(io), log_(writer_io_, log, speed) {
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

PtyReplay::~PtyReplay() {
  stopping_ = true;
  if (::write(wake_[1], "x", 1) < 0) {
    // The pipe is ours and empty; a failed wake-up leaves only the loop's stop.
  }
  writer_io_.stop();
  if (writer_.joinable()) writer_.join();
  ::close(master_);
  ::close(wake_[0]);
  ::close(wake_[1]);
}

void PtyReplay::Begin(std::function<void()> on_finished) {
  on_finished_ = std::move(on_finished);
  log_.OnEnd([this] {
    all_written_ = true;
    asio::post(io_, [this, alive = alive_.Watch()] {
      if (!alive.expired()) CheckFinished();
    });
  });
  writer_ = std::thread([this] {
    log_.Begin([this](std::string_view block, std::string_view) {
      if (!WriteAll(block)) log_.Close();
    });
    writer_io_.run();
  });
}

bool PtyReplay::WriteAll(std::string_view text) {
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

void PtyReplay::Taken(size_t bytes) {
  taken_ += bytes;
  CheckFinished();
}

void PtyReplay::CheckFinished() {
  if (finished_ || !all_written_ || taken_ < written_) return;
  finished_ = true;
  if (on_finished_) on_finished_();
}

double PtyReplay::ShareDone() const {
  if (finished_) return 1;
  return log_size_ > 0 ? std::min(1.0, static_cast<double>(taken_) / static_cast<double>(log_size_))
                       : 0;
}

}  // namespace quorvane
