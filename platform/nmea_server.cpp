#include "platform/nmea_server.hpp"

#include <algorithm>
#include <array>

#include <asio/write.hpp>

namespace quorvane {

struct NmeaServer::Client {
  explicit Client(asio::io_context& io) : socket(io) {}
  asio::ip::tcp::socket socket;
  std::deque<std::shared_ptr<const std::string>> waiting;
  size_t waiting_bytes = 0;
  bool writing = false;
  std::array<char, 512> ignored{};
};

NmeaServer::NmeaServer(asio::io_context& io, const asio::ip::tcp::endpoint& where)
    : io_(io), acceptor_(io, where) {
  AcceptNext();
}

NmeaServer::~NmeaServer() {
  std::error_code ignored;
  accept_wait_.cancel();
  acceptor_.close(ignored);
  for (const auto& client : clients_) client->socket.close(ignored);
}

void NmeaServer::AcceptNext() {
  auto client = std::make_shared<Client>(io_);
  acceptor_.async_accept(client->socket, [this, client, alive = std::weak_ptr<char>(alive_)](
                                             const std::error_code& error) {
    if (alive.expired() || error == asio::error::operation_aborted) return;
    if (error) {
      AcceptLater(error);
      return;
    }
    failure_said_ = false;
    if (clients_.size() < kMostClients) {
      // The kernel keeps little for a client, so that a slow one shows in its own queue.
      std::error_code ignored;
      client->socket.set_option(asio::socket_base::send_buffer_size(64 * 1024), ignored);
      client->socket.set_option(asio::ip::tcp::no_delay(true), ignored);
      clients_.push_back(client);
      IgnoreInput(client);
    } else {
      std::error_code ignored;
      client->socket.close(ignored);
    }
    AcceptNext();
  });
}

void NmeaServer::AcceptLater(const std::error_code& error) {
  // A tenth of a second: the loop stays free, and a client is taken soon after descriptors are.
  constexpr auto kWait = std::chrono::milliseconds(100);
  ++accept_failures_;
  if (!failure_said_ && on_accept_failure_) {
    on_accept_failure_("cannot accept a client: " + error.message() + "; trying again");
  }
  failure_said_ = true;
  accept_wait_.expires_after(kWait);
  accept_wait_.async_wait([this, alive = std::weak_ptr<char>(alive_)](const std::error_code& wait) {
    if (!alive.expired() && !wait) AcceptNext();
  });
}

void NmeaServer::Send(std::string_view block) {
  if (clients_.empty() || block.empty()) return;
  const auto text = std::make_shared<const std::string>(block);
  // A copy of the list: dropping a client changes it.
  const auto clients = clients_;
  for (const auto& client : clients) {
    if (client->waiting_bytes + text->size() > kMostWaiting) {
      Drop(client);
      continue;
    }
    client->waiting.push_back(text);
    client->waiting_bytes += text->size();
    if (!client->writing) WriteNext(client);
  }
}

void NmeaServer::WriteNext(const std::shared_ptr<Client>& client) {
  if (client->waiting.empty()) {
    client->writing = false;
    return;
  }
  client->writing = true;
  const auto text = client->waiting.front();
  asio::async_write(client->socket, asio::buffer(*text),
                    [this, client, text, alive = std::weak_ptr<char>(alive_)](
                        const std::error_code& error, size_t) {
                      if (alive.expired() || !client->socket.is_open()) return;
                      if (error) {
                        Drop(client);
                        return;
                      }
                      client->waiting.pop_front();
                      client->waiting_bytes -= text->size();
                      WriteNext(client);
                    });
}

void NmeaServer::IgnoreInput(const std::shared_ptr<Client>& client) {
  client->socket.async_read_some(
      asio::buffer(client->ignored),
      [this, client, alive = std::weak_ptr<char>(alive_)](const std::error_code& error, size_t) {
        if (alive.expired() || !client->socket.is_open()) return;
        if (error) {
          Drop(client);
          return;
        }
        IgnoreInput(client);
      });
}

void NmeaServer::Drop(const std::shared_ptr<Client>& client) {
  std::error_code ignored;
  client->socket.close(ignored);
  client->waiting.clear();
  client->waiting_bytes = 0;
  clients_.remove(client);
}

}  // namespace quorvane
