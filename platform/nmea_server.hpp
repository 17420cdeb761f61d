#pragma once
// NMEA 0183 over TCP for other programs (chart plotters, navigation software; 10110 is the
// registered port): every block handed to Send goes, in order, to every connected client.
// A client that reads too slowly is dropped once more than 1 MiB waits for it, so the others
// are never slowed; what a client sends is read and ignored (there is no command channel).

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <string_view>

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>

namespace quorvane {

class NmeaServer {
 public:
  static constexpr size_t kMostWaiting = 1024 * 1024;
  // Connections beyond this many are closed at once: a flood of connects stays bounded.
  static constexpr size_t kMostClients = 512;

  // Listens on `where`; throws std::system_error when it cannot.
  NmeaServer(asio::io_context& io, const asio::ip::tcp::endpoint& where);
  ~NmeaServer();
  NmeaServer(const NmeaServer&) = delete;
  NmeaServer& operator=(const NmeaServer&) = delete;

  void Send(std::string_view block);
  size_t Clients() const { return clients_.size(); }
  // Told once when clients cannot be accepted (descriptors used up, ...), with the reason; it is
  // told again only after a client was accepted since. Accepting waits a while after each failure
  // rather than trying again at once (which would spin a core for as long as it lasts).
  void OnAcceptFailure(std::function<void(const std::string&)> handler) {
    on_accept_failure_ = std::move(handler);
  }
  uint64_t AcceptFailures() const { return accept_failures_; }
  uint16_t Port() const { return acceptor_.local_endpoint().port(); }

 private:
  struct Client;
  void AcceptNext();
  void WriteNext(const std::shared_ptr<Client>& client);
  void IgnoreInput(const std::shared_ptr<Client>& client);
  void Drop(const std::shared_ptr<Client>& client);

  void AcceptLater(const std::error_code& error);

  asio::io_context& io_;
  asio::ip::tcp::acceptor acceptor_;
  asio::steady_timer accept_wait_{io_};
  std::function<void(const std::string&)> on_accept_failure_;
  uint64_t accept_failures_ = 0;
  bool failure_said_ = false;
  std::list<std::shared_ptr<Client>> clients_;
  std::shared_ptr<char> alive_ = std::make_shared<char>();
};

}  // namespace quorvane
