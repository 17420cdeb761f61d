#pragma once
// Text that another control rebroadcasts, received as UDP datagrams on a local port of every
// address. Each datagram is one block; what comes from the network is never sent on again.

#include <cstdint>

#include <asio/io_context.hpp>

#include "platform/socket_comm.hpp"
#include "sources/block_source.hpp"

namespace quorvane {

class UdpSource final : public BlockSource {
 public:
  UdpSource(asio::io_context& io, uint16_t port) : socket_(io), port_(port) {}

  // A port that is busy or cannot be bound leaves the source closed, without a word (as the
  // socket component has it).
  void Begin(BlockHandler on_block) override;
  void Close() override { socket_.Close(); }
  bool IsOpen() const override { return socket_.IsOpen(); }
  bool FromNetwork() const override { return true; }

 private:
  SocketComm socket_;
  uint16_t port_;
};

}  // namespace quorvane
