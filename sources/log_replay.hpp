#pragma once
// A recorded NMEA log as a source, read on the io_context with no pseudo-terminal in between.
// Paced, it hands on one fix at a time (the lines from one GGA up to the next, of any talker)
// at the receiver's own times divided by the speed; as fast as it goes, as much as one UDP
// datagram carries (65,507 bytes), since a block may be rebroadcast whole.
// Either way one block per turn of the loop, so timers and signals still run between blocks.
// Every line goes on ending in CR LF, as a receiver sends it, whatever the log's line ends (LF,
// CR LF, CR); empty lines, comment lines ("#" first) and lines longer than a block are left out.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>

#include "base/life_token.hpp"
#include "block_source.hpp"

namespace quorvane {

class LogReplay final : public BlockSource {
 public:
  // As fast as the receive path takes it.
  static constexpr double kAsFastAsItGoes = 0;

  // Opens the log; throws std::runtime_error naming it when it cannot be read. `speed` is a
  // factor of real time (> 0), or kAsFastAsItGoes.
  LogReplay(asio::io_context& io, const std::string& path, double speed);
  ~LogReplay() override;
  LogReplay(const LogReplay&) = delete;
  LogReplay& operator=(const LogReplay&) = delete;

  void Begin(BlockHandler on_block) override;
  void Close() override;
  bool IsOpen() const override { return fd_ >= 0; }
  bool Replays() const override { return true; }

  // Runs on the io_context once the last block has been handed on (not after Close).
  void OnEnd(std::function<void()> handler) { on_end_ = std::move(handler); }

  // The share of the log handed on so far, 0 to 1.
  double ShareDone() const;

 private:
  bool NextLine(std::string_view& line);
  void ReadMore();
  void AppendLine(std::string_view line, std::string& block);
  bool NextBlock(std::string& block, double& fix_seconds);
  void HandOnNext();
  std::chrono::steady_clock::duration DueAfter(double fix_seconds);
  void Finish();

  asio::io_context& io_;
  asio::steady_timer timer_;
  std::string path_;
  int fd_ = -1;
  uint64_t size_ = 0;
  uint64_t consumed_ = 0;  // bytes of the log in blocks handed on
  double speed_;
  std::string raw_;       // read from the file up to raw_end_, not yet cut into lines
  size_t raw_start_ = 0;  // where the next line begins in raw_
  size_t raw_end_ = 0;
  bool end_of_file_ = false;
  bool dropping_long_line_ = false;  // the rest of a line too long to hand on is left out
  // A line read ahead: the start of the next fix, or one the block had no room for.
  std::string held_;
  std::string block_;
  // Pacing: the receiver's seconds since the first fix, and the last fix's time of day.
  std::chrono::steady_clock::time_point begun_;
  double receiver_seconds_ = 0;
  double previous_fix_ = -1;
  BlockHandler on_block_;
  std::function<void()> on_end_;
  LifeToken alive_;
};

}  // namespace quorvane
