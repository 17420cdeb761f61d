#pragma once
// NMEA text from a TCP server (ser2net, a multiplexer, a phone sharing its GPS, gpsd), read on
// the io_context and handed on block by block. The server's name is looked up before every try
// without holding the loop, so a server that moves to another address is found again. When the
// server closes, cannot be found or cannot be reached, the source tries again after 0.5 s, then
// 1, 2, ... up to 30 s between tries, until it is closed.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>

#include "base/life_token.hpp"
#include "block_source.hpp"
#include "platform/host_lookup.hpp"
#include "platform/retry_schedule.hpp"

namespace quorvane {

class TcpSource final : public BlockSource {
 public:
  // `name` is the address as the user gave it, for what is said about the connection;
  // `greeting` is written to the server on every connection (gpsd's WATCH), or nothing.
  TcpSource(asio::io_context& io, std::string name, std::string host, uint16_t port,
            std::string greeting = "");
  ~TcpSource() override;
  TcpSource(const TcpSource&) = delete;
  TcpSource& operator=(const TcpSource&) = delete;

  void Begin(BlockHandler on_block) override;
  // Stops reading and any try to come.
  void Close() override;
  // Connected now.
  bool IsOpen() const override { return connected_; }
  bool EverOpen() const override { return ever_connected_; }

  const std::string& Name() const { return name_; }

 private:
  void Resolve();
  void Connect(const std::vector<asio::ip::tcp::endpoint>& found);
  void ReadNext();
  void Lose(const std::string& reason);

  HostLookup lookup_;
  asio::ip::tcp::socket socket_;
  RetrySchedule retry_;
  std::string name_;
  std::string host_;
  uint16_t port_;
  std::string greeting_;
  std::vector<char> buffer_ = std::vector<char>(64 * 1024);
  bool closed_ = true;
  bool connected_ = false;
  bool ever_connected_ = false;
  BlockHandler on_block_;
  LifeToken alive_;
};

}  // namespace quorvane
