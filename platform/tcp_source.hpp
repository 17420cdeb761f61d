#pragma once
// NMEA text from a TCP server (ser2net, a multiplexer, a phone sharing its GPS, gpsd), read on
// the io_context and handed on block by block. When the server closes, or cannot be reached, the
// source tries again after 0.5 s, then 1, 2, ... up to 30 s between tries, until it is closed.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>

#include "block_source.hpp"
#include "retry_schedule.hpp"

namespace quorvane {

class TcpSource final : public BlockSource {
 public:
  // `name` is the address as the user gave it, for what is said about the connection;
  // `greeting` is written to the server on every connection (gpsd's WATCH), or nothing.
  TcpSource(asio::io_context& io, std::string name, asio::ip::tcp::endpoint server,
            std::string greeting = "");
  ~TcpSource() override;
  TcpSource(const TcpSource&) = delete;
  TcpSource& operator=(const TcpSource&) = delete;

  void Begin(BlockHandler on_block) override;
  // Stops reading and any try to come.
  void Close() override;
  // Connected now.
  bool IsOpen() const override { return connected_; }

  // Told each time a try is scheduled: why the connection is gone (or could not be made), the
  // seconds until the next try, and whether this is the first try since the connection was
  // lost (later ones are the same loss going on).
  using LostHandler =
      std::function<void(const std::string& reason, double retry_seconds, bool first_of_loss)>;
  void OnLost(LostHandler handler) { on_lost_ = std::move(handler); }

  const std::string& Name() const { return name_; }

 private:
  void Connect();
  void ReadNext();
  void Lose(const std::string& reason);

  asio::ip::tcp::socket socket_;
  RetrySchedule retry_;
  std::string name_;
  asio::ip::tcp::endpoint server_;
  std::string greeting_;
  std::vector<char> buffer_ = std::vector<char>(64 * 1024);
  bool closed_ = true;
  bool connected_ = false;
  BlockHandler on_block_;
  LostHandler on_lost_;
  std::shared_ptr<char> alive_ = std::make_shared<char>();
};

}  // namespace quorvane
