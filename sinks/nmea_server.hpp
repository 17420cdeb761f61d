#pragma once
// NMEA 0183 over TCP for other programs (chart plotters, navigation software; 10110 is the
// registered port): every block handed to Send goes, in order, to every connected client. A
// single receiver's text goes as it was received. A fleet's vehicles are never spliced: each
// whole sentence goes on a line of its own after an NMEA 4.10 TAG block naming its stream
// ("\s:fleet/car7/nmea*5A\$GPGGA,...*47\r\n"), at most 64 KiB of them for one message.
// A client that reads too slowly is dropped once more than 1 MiB waits for it, so the others
// are never slowed; what a client sends is read and ignored (there is no command channel).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/tcp_clients.hpp"
#include "receiver/sinks.hpp"
#include "sinks/sink_factory.hpp"

namespace quorvane {

// The TAG block that names a stream: "\s:SOURCE*hh\", the separators in the name made "_".
std::string TagBlockOf(const std::string& stream);

class NmeaServer final : public EpochSink, public BlockSink, public Output {
 public:
  static constexpr size_t kMostFleetTextPerBlock = 64 * 1024;

  static constexpr size_t kMostWaiting = 1024 * 1024;
  static constexpr size_t kMostClients = TcpClients::kMostClients;

  // Listens on `where`; throws std::system_error when it cannot.
  NmeaServer(asio::io_context& io, const Listening& where)
      : clients_(io, where, kMostWaiting, {}, TcpClients::EndOfInput::kStillReading),
        where_(asio::ip::tcp::endpoint(where.where.address(), clients_.Port())) {}

  void Send(std::string_view block) {
    if (clients_.Size() > 0) clients_.SendToAll(std::make_shared<const std::string>(block));
  }
  void TakeBlock(std::string_view block, const BlockOrigin& origin) override;
  // A fleet's sentences, each after its stream's TAG block; a single receiver's go as blocks.
  void TakeSentence(std::string_view sentence, const std::string& stream) override;
  std::string State() const override { return ClientsText(Clients(), "NMEA", where_); }
  // A fleet's sentences left out past a message's 64 KiB.
  uint64_t DroppedSentences() const { return dropped_sentences_; }
  size_t Clients() const { return clients_.Size(); }
  // See TcpClients::OnAcceptFailure.
  void OnAcceptFailure(std::function<void(const std::string&)> handler) {
    clients_.OnAcceptFailure(std::move(handler));
  }
  uint64_t AcceptFailures() const { return clients_.AcceptFailures(); }
  uint16_t Port() const { return clients_.Port(); }

 private:
  TcpClients clients_;
  asio::ip::tcp::endpoint where_;  // with the port chosen when 0 was asked for
  std::string fleet_text_;         // the sentences of the message being taken
  std::string tagged_stream_;      // the stream whose TAG block is `tag_block_`
  std::string tag_block_;
  uint64_t dropped_sentences_ = 0;
};

}  // namespace quorvane
