#pragma once
// A plain UDP socket on 127.0.0.1 for talking to controls, and the control's way of writing a
// port number: the 16 bits of the port as a signed integer.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <asio/io_context.hpp>
#include <asio/ip/udp.hpp>

namespace quorvane::testing {

inline int16_t AsPortNumber(uint16_t port) {
  return static_cast<int16_t>(port);
}

class UdpPeer {
 public:
  // Bound to `port` on 127.0.0.1 (0: one the system picks).
  explicit UdpPeer(uint16_t port = 0) : socket_(io_, {asio::ip::address_v4::loopback(), port}) {}

  // A port that was free a moment ago.
  static uint16_t FreePort() { return UdpPeer().Port(); }

  uint16_t Port() const { return socket_.local_endpoint().port(); }

  void SendTo(uint16_t port, std::string_view data) {
    socket_.send_to(asio::buffer(data.data(), data.size()),
                    {asio::ip::address_v4::loopback(), port});
  }

  // The next datagram, or nothing when none comes within `wait`.
  std::optional<std::string> Receive(
      std::chrono::milliseconds wait = std::chrono::milliseconds(1000)) {
    std::optional<std::string> datagram;
    std::string buffer(65536, '\0');
    socket_.async_receive(asio::buffer(buffer), [&](const std::error_code& error, size_t length) {
      if (!error) datagram = buffer.substr(0, length);
    });
    io_.restart();
    io_.run_for(wait);
    if (!datagram) {
      socket_.cancel();
      io_.restart();
      io_.run();
    }
    return datagram;
  }

 private:
  asio::io_context io_;
  asio::ip::udp::socket socket_;
};

// Whether a UDP port on every address can be bound right now (false once another holds it).
inline bool UdpPeerBindable(uint16_t port) {
  asio::io_context io;
  asio::ip::udp::socket socket(io);
  std::error_code error;
  socket.open(asio::ip::udp::v4(), error);
  if (!error) socket.bind({asio::ip::address_v4::any(), port}, error);
  return !error;
}

}  // namespace quorvane::testing
