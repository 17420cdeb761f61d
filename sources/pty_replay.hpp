#pragma once
// A simulated receiver: an NMEA log written into a pseudo-terminal, so that the control reads it
// through the real serial path. A thread of its own runs the log replay (the same cutting and
// pacing as a replay inside the loop) and writes each block into the terminal, waiting while
// the terminal is full.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include <asio/io_context.hpp>

#include "base/life_token.hpp"
#include "sources/log_replay.hpp"

namespace quorvane {

class PtyReplay {
 public:
  // Opens the log and a pseudo-terminal; throws std::runtime_error with a sentence when either
  // cannot be had.
  PtyReplay(asio::io_context& io, const std::string& log, double speed);
  // Stops the writing thread.
  ~PtyReplay();
  PtyReplay(const PtyReplay&) = delete;
  PtyReplay& operator=(const PtyReplay&) = delete;

  // The serial device the control is to open.
  const std::string& DevicePath() const { return device_path_; }

  // Starts writing; `on_finished` runs on the io_context once the whole log has been taken.
  void Begin(std::function<void()> on_finished);
  // The control took `bytes` more of the text (its Stream blocks). On the io_context's thread.
  void Taken(size_t bytes);

  double ShareDone() const;

 private:
  bool WriteAll(std::string_view text);
  void CheckFinished();

  asio::io_context& io_;
  asio::io_context writer_io_;
  LogReplay log_;
  uint64_t log_size_ = 0;
  std::string device_path_;
  int master_ = -1;
  int wake_[2] = {-1, -1};  // a pipe that interrupts the thread's waits
  std::thread writer_;
  std::atomic<uint64_t> written_{0};
  uint64_t taken_ = 0;
  std::atomic<bool> all_written_{false};
  std::atomic<bool> stopping_{false};
  bool finished_ = false;
  std::function<void()> on_finished_;
  LifeToken alive_;
};

}  // namespace quorvane
