#pragma once
// A simulated receiver: an NMEA log written into a pseudo-terminal, so that the control reads it
// through the real serial path. A thread of its own reads the log a fix at a time (the
// sentences from one GGA to the next) and writes it, paced by the fixes' UTC times divided by
// the speed, or at speed 0 as fast as the terminal takes it. In lockstep each fix is written
// only once the control has taken the one before, so no block holds two fixes.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <asio/io_context.hpp>

namespace quorvane::monitor {

class Replay {
 public:
  // Opens the log and a pseudo-terminal; throws std::runtime_error with a sentence when either
  // cannot be had.
  Replay(asio::io_context& io, const std::string& log, double speed, bool lockstep);
  // Stops the writing thread.
  ~Replay();
  Replay(const Replay&) = delete;
  Replay& operator=(const Replay&) = delete;

  // The serial device the control is to open.
  const std::string& DevicePath() const { return device_path_; }

  // Starts writing; `on_finished` runs on the io_context once the whole log has been taken.
  void Begin(std::function<void()> on_finished);
  // The control took `bytes` more of the text (its Stream blocks). On the io_context's thread.
  void Taken(size_t bytes);

  double ShareDone() const;

 private:
  void WriteLog();
  bool ReadFix(std::string& text, double& fix_seconds);
  bool WaitUntil(std::chrono::steady_clock::time_point due);
  bool WaitForTheControl();
  bool WriteAll(std::string_view text);
  void CheckFinished();

  asio::io_context& io_;
  std::string device_path_;
  int master_ = -1;
  int wake_[2] = {-1, -1};  // a pipe that interrupts the thread's waits
  std::ifstream log_;
  uint64_t log_size_ = 0;
  double speed_;
  bool lockstep_;
  std::string next_gga_;  // the GGA line that begins the next fix
  std::thread writer_;
  std::atomic<uint64_t> written_{0};
  std::atomic<uint64_t> taken_{0};
  std::atomic<bool> all_written_{false};
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;
  std::condition_variable taken_changed_;
  bool finished_ = false;
  std::function<void()> on_finished_;
  std::shared_ptr<char> alive_ = std::make_shared<char>();
};

}  // namespace quorvane::monitor
