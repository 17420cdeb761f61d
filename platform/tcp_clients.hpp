#pragma once
// The clients of a TCP service on the loop: accepted up to kMostClients (a flood of connects
// stays bounded), each with its own queue of text to write. A client whose queue would pass the
// service's limit is cut, so that one that reads too slowly never slows the others. What a
// client sends is handed to the service a bounded piece at a time, or read and dropped when the
// service takes nothing.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>
#include "base/life_token.hpp"

namespace quorvane {

// Where a service listens: an address of its own, or a socket already listening that it was
// handed (by a service manager's socket activation), by its descriptor.
struct Listening {
  // An address is a place to listen.
  Listening(const asio::ip::tcp::endpoint& address) : where(address) {}  // NOLINT
  // The socket `descriptor` listens already; throws std::system_error when it is no TCP socket.
  static Listening Handed(int descriptor);

  asio::ip::tcp::endpoint where;
  int descriptor = -1;
};

// What a service does with its clients.
struct TcpClientHandlers {
  std::function<void(uint64_t client)> connected = nullptr;
  // Null: what clients send is read and dropped.
  std::function<void(uint64_t client, std::string_view piece)> received = nullptr;
  std::function<void(uint64_t client)> closed = nullptr;
};

class TcpClients {
 public:
  using ClientId = uint64_t;
  using Text = std::shared_ptr<const std::string>;
  static constexpr size_t kMostClients = 512;
  static constexpr size_t kPieceSize = 4096;

  // What a client's end of input means: it has gone (a command channel), or it may only have
  // stopped sending and still read (a feed's reader that shut its side down): that one gets an
  // empty line or two, and is cut when they show it has gone.
  enum class EndOfInput { kGone, kStillReading };

  // Listens on `where`; throws std::system_error when it cannot. `most_waiting`: the bytes a
  // client may have waiting before it is cut.
  TcpClients(asio::io_context& io, const Listening& where, size_t most_waiting,
             TcpClientHandlers handlers = {}, EndOfInput end_of_input = EndOfInput::kGone);
  ~TcpClients();
  TcpClients(const TcpClients&) = delete;
  TcpClients& operator=(const TcpClients&) = delete;

  void SendToAll(const Text& text);
  void SendTo(ClientId client, const Text& text);
  size_t Size() const { return clients_.size(); }
  uint16_t Port() const { return acceptor_.local_endpoint().port(); }

  // Told once when clients cannot be accepted (descriptors used up, ...), with the reason; it is
  // told again only after a client was accepted since. Accepting waits a while after each failure
  // rather than trying again at once (which would spin a core for as long as it lasts).
  void OnAcceptFailure(std::function<void(const std::string&)> handler) {
    on_accept_failure_ = std::move(handler);
  }
  uint64_t AcceptFailures() const { return accept_failures_; }

 private:
  struct Client;
  void AcceptNext();
  void AcceptLater(const std::error_code& error);
  void Queue(const std::shared_ptr<Client>& client, const Text& text);
  void WriteNext(const std::shared_ptr<Client>& client);
  void ReadNext(const std::shared_ptr<Client>& client);
  void Drop(std::shared_ptr<Client> client);
  void ProbeAfterEndOfInput(const std::shared_ptr<Client>& client);

  asio::io_context& io_;
  asio::ip::tcp::acceptor acceptor_;
  size_t most_waiting_;
  TcpClientHandlers handlers_;
  asio::steady_timer accept_wait_{io_};
  std::function<void(const std::string&)> on_accept_failure_;
  EndOfInput end_of_input_;
  uint64_t accept_failures_ = 0;
  bool failure_said_ = false;
  ClientId next_id_ = 1;
  std::map<ClientId, std::shared_ptr<Client>> clients_;
  LifeToken alive_;
};

}  // namespace quorvane
