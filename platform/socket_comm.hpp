#pragma once
// The socket component: one UDP socket with exactly the operations the control uses (Protocol,
// RemoteHost, RemotePort, LocalPort, Connect, SendData, Close and the DataArrival event, which
// hands each datagram forward), over asio::ip::udp::socket. A datagram's payload is the text, one
// byte per character, with no header. Every completion runs on the io_context the component was
// made with.
//
// Port numbers are the control's 16-bit integers; their 16 bits are the port, so a host gives
// port 50000 as -15536.
//
// An operation that cannot be done throws SocketError, whose text is the component's own
// description of the failure.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include <asio/io_context.hpp>
#include <asio/ip/udp.hpp>
#include "base/life_token.hpp"

namespace quorvane {

class SocketError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// RemoteHost names no host that can be found.
class ResolveError : public SocketError {
 public:
  using SocketError::SocketError;
};

class SocketComm {
 public:
  static constexpr int16_t sckUDPProtocol = 1;
  // The largest payload a UDP datagram over IPv4 can carry.
  static constexpr size_t kMaxDatagram = 65507;

  explicit SocketComm(asio::io_context& io);
  ~SocketComm();
  SocketComm(const SocketComm&) = delete;
  SocketComm& operator=(const SocketComm&) = delete;

  // Only UDP is offered; any other protocol throws.
  void Protocol(int16_t protocol);
  // Where SendData sends: a host name, a dotted address or a broadcast address.
  void RemoteHost(const std::string& host) { remote_host_ = host; }
  void RemotePort(int16_t port) { remote_port_ = static_cast<uint16_t>(port); }
  // The port Connect binds; 0 lets the system choose. Not while the socket is open.
  void LocalPort(int16_t port);
  int16_t LocalPort() const;

  // Opens the socket (broadcasts allowed), binds the local port and starts receiving. Throws
  // when the port is busy or invalid; the socket is then closed again.
  void Connect();
  // Sends `data` as one datagram to RemoteHost:RemotePort; an empty text is an empty datagram.
  // The name is looked up once for each RemoteHost and RemotePort, found or not: a name that
  // cannot be found throws ResolveError at once on every send, without asking again.
  void SendData(std::string_view data);
  void Close();
  bool IsOpen() const { return socket_.is_open(); }

  // Raised on the io_context's thread with each datagram. The view is valid during the call
  // only.
  void DataArrival(std::function<void(std::string_view datagram)> handler) {
    data_arrival_ = std::move(handler);
  }

 private:
  asio::ip::udp::endpoint RemoteEndpoint();
  void ReceiveNext();

  asio::io_context& io_;
  asio::ip::udp::socket socket_;
  std::string remote_host_;
  uint16_t remote_port_ = 0;
  uint16_t local_port_ = 0;
  // The last resolution, kept while RemoteHost and RemotePort stay the same: the endpoint, or
  // why there is none.
  std::optional<std::pair<std::string, uint16_t>> resolved_for_;
  asio::ip::udp::endpoint resolved_;
  std::string resolve_failure_;
  std::unique_ptr<std::array<char, kMaxDatagram>> receive_buffer_;
  asio::ip::udp::endpoint sender_;
  uint64_t opening_ = 0;
  std::function<void(std::string_view)> data_arrival_;
  LifeToken alive_;
};

}  // namespace quorvane
