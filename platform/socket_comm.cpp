#include "platform/socket_comm.hpp"

#include <asio/ip/address_v4.hpp>
#include <asio/socket_base.hpp>

namespace quorvane {

SocketComm::SocketComm(asio::io_context& io)
    : io_(io), socket_(io), receive_buffer_(std::make_unique<std::array<char, kMaxDatagram>>()) {}

SocketComm::~SocketComm() {
  Close();
}

void SocketComm::Protocol(int16_t protocol) {
  if (protocol != sckUDPProtocol) throw SocketError("Only the UDP protocol (1) is supported");
}

void SocketComm::LocalPort(int16_t port) {
  if (socket_.is_open()) throw SocketError("Invalid operation while the socket is open");
  local_port_ = static_cast<uint16_t>(port);
}

int16_t SocketComm::LocalPort() const {
  return static_cast<int16_t>(local_port_);
}

void SocketComm::Connect() {
  if (socket_.is_open()) throw SocketError("The socket is already connected");
  std::error_code error;
  socket_.open(asio::ip::udp::v4(), error);
  if (!error) socket_.set_option(asio::socket_base::broadcast(true), error);
  if (!error) socket_.bind({asio::ip::address_v4::any(), local_port_}, error);
  if (error) {
    std::error_code ignored;
    socket_.close(ignored);
    throw SocketError("Cannot use local UDP port " + std::to_string(local_port_) + ": " +
                      error.message());
  }
  ++opening_;
  ReceiveNext();
}

asio::ip::udp::endpoint SocketComm::RemoteEndpoint() {
  if (remote_host_.empty()) throw SocketError("No remote host to send to");
  const std::pair<std::string, uint16_t> wanted{remote_host_, remote_port_};
  if (resolved_for_ != wanted) {
    resolved_for_ = wanted;
    resolve_failure_.clear();
    asio::ip::udp::resolver resolver(io_);
    std::error_code error;
    const auto results =
        resolver.resolve(asio::ip::udp::v4(), remote_host_, std::to_string(remote_port_), error);
    if (error || results.empty()) {
      resolve_failure_ = "Cannot resolve remote host \"" + remote_host_ +
                         "\": " + (error ? error.message() : "no IPv4 address");
    } else {
      resolved_ = results.begin()->endpoint();
    }
  }
  if (!resolve_failure_.empty()) throw ResolveError(resolve_failure_);
  return resolved_;
}

void SocketComm::SendData(std::string_view data) {
  if (!socket_.is_open()) throw SocketError("The socket is not connected");
  const asio::ip::udp::endpoint destination = RemoteEndpoint();
  if (destination.port() == 0) throw SocketError("No remote port to send to");
  std::error_code error;
  socket_.send_to(asio::buffer(data.data(), data.size()), destination, 0, error);
  if (error) throw SocketError("Cannot send to " + remote_host_ + ": " + error.message());
}

void SocketComm::Close() {
  if (!socket_.is_open()) return;
  ++opening_;
  std::error_code ignored;
  socket_.close(ignored);
}

void SocketComm::ReceiveNext() {
  socket_.async_receive_from(asio::buffer(*receive_buffer_), sender_,
                             [this, alive = alive_.Watch(), opening = opening_](
                                 const std::error_code& error, size_t length) {
                               if (alive.expired() || opening != opening_) return;
                               if (error) {
                                 // Nothing on a UDP socket that is not aborted is worth retrying in
                                 // a loop.
                                 if (error != asio::error::operation_aborted) Close();
                                 return;
                               }
                               if (data_arrival_) {
                                 data_arrival_({receive_buffer_->data(), length});
                               }
                               if (alive.expired()) return;
                               if (socket_.is_open() && opening == opening_) ReceiveNext();
                             });
}

}  // namespace quorvane
