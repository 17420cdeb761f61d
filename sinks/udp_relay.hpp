#pragma once
// The rebroadcast: each block the receiver sends, as the host's Stream handler left it, sent on
// as one UDP datagram to BroadcastAddress:TxPort while Broadcast is true. Text that came from
// the network (another control's rebroadcast) never goes out again, nor does a fleet's: whoever
// received several senders' text as one would splice them.

#include <cstdint>
#include <string>

#include <asio/io_context.hpp>

#include "platform/socket_comm.hpp"
#include "receiver/sinks.hpp"
#include "sinks/output.hpp"

namespace quorvane {

class UdpRelay final : public BlockSink, public Output {
 public:
  explicit UdpRelay(asio::io_context& io) : socket_(io) {}

  // Broadcast as the 16-bit boolean a dispatch host stores: any value reads back as stored, and
  // only true (-1) relays.
  int16_t Flag() const { return flag_; }
  void Flag(int16_t value) { flag_ = value; }
  bool On() const { return flag_ == -1; }
  const std::string& Address() const { return address_; }
  void Address(const std::string& value) { address_ = value; }
  int16_t Port() const { return port_; }
  void Port(int16_t value) { port_ = value; }

  // Opens the sender when the relay is on. The address is looked up here, once: a name that
  // cannot be found is returned (to be said once), and the blocks after it are not sent.
  std::string Prepare();
  std::vector<std::string> Close() override {
    socket_.Close();
    return {};
  }

  void TakeBlock(std::string_view block, const BlockOrigin& origin) override;

 private:
  SocketComm socket_;
  int16_t flag_ = 0;
  std::string address_;
  int16_t port_ = 0;
};

}  // namespace quorvane
