#include "platform/tcp_clients.hpp"

#include <sys/socket.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <utility>

#include <asio/steady_timer.hpp>
#include <asio/write.hpp>

#include "platform/send_budget.hpp"

namespace quorvane {

struct TcpClients::Client {
  Client(asio::io_context& io, ClientId client_id) : socket(io), id(client_id) {}
  asio::ip::tcp::socket socket;
  ClientId id;
  std::deque<Text> waiting;
  size_t waiting_bytes = 0;
  bool writing = false;
  std::array<char, kPieceSize> piece{};
  std::unique_ptr<asio::steady_timer> probe;  // after its end of input
};

Listening Listening::Handed(int descriptor) {
  sockaddr_storage address{};
  socklen_t size = sizeof address;
  int type = 0;
  socklen_t type_size = sizeof type;
  if (::getsockname(descriptor, reinterpret_cast<sockaddr*>(&address), &size) != 0 ||
      ::getsockopt(descriptor, SOL_SOCKET, SO_TYPE, &type, &type_size) != 0) {
    throw std::system_error(errno, std::generic_category());
  }
  if (type != SOCK_STREAM || (address.ss_family != AF_INET && address.ss_family != AF_INET6)) {
    throw std::system_error(std::make_error_code(std::errc::not_a_socket));
  }
  asio::ip::tcp::endpoint where;
  where.resize(size);
  std::memcpy(where.data(), &address, size);
  Listening handed(where);
  handed.descriptor = descriptor;
  return handed;
}

TcpClients::TcpClients(asio::io_context& io, const Listening& where, size_t most_waiting,
                       TcpClientHandlers handlers, EndOfInput end_of_input)
    : io_(io),
      acceptor_(io),
      most_waiting_(most_waiting),
      handlers_(std::move(handlers)),
      end_of_input_(end_of_input) {
  if (where.descriptor >= 0) {
    acceptor_.assign(where.where.protocol(), where.descriptor);
  } else {
    acceptor_.open(where.where.protocol());
    acceptor_.set_option(asio::ip::tcp::acceptor::reuse_address(true));
    acceptor_.bind(where.where);
    acceptor_.listen();
  }
  AcceptNext();
}

TcpClients::~TcpClients() {
  std::error_code ignored;
  accept_wait_.cancel();
  acceptor_.close(ignored);
  for (const auto& [id, client] : clients_) {
    client->socket.close(ignored);
    SendBudget::Shared().Remove(std::exchange(client->waiting_bytes, 0));
  }
}

void TcpClients::AcceptNext() {
  auto client = std::make_shared<Client>(io_, next_id_);
  acceptor_.async_accept(
      client->socket, [this, client, alive = alive_.Watch()](const std::error_code& error) {
        if (alive.expired() || error == asio::error::operation_aborted) return;
        if (error) {
          AcceptLater(error);
          return;
        }
        failure_said_ = false;
        std::error_code ignored;
        if (clients_.size() < kMostClients) {
          // The kernel keeps little for a client, so that a slow one shows in its own queue.
          client->socket.set_option(asio::socket_base::send_buffer_size(64 * 1024), ignored);
          client->socket.set_option(asio::ip::tcp::no_delay(true), ignored);
          clients_.emplace(client->id, client);
          ++next_id_;
          if (handlers_.connected) handlers_.connected(client->id);
          if (client->socket.is_open()) ReadNext(client);
        } else {
          client->socket.close(ignored);
        }
        AcceptNext();
      });
}

void TcpClients::AcceptLater(const std::error_code& error) {
  // A tenth of a second: the loop stays free, and a client is taken soon after descriptors are.
  constexpr auto kWait = std::chrono::milliseconds(100);
  ++accept_failures_;
  if (!failure_said_ && on_accept_failure_) {
    on_accept_failure_("cannot accept a client: " + error.message() + "; trying again");
  }
  failure_said_ = true;
  accept_wait_.expires_after(kWait);
  accept_wait_.async_wait([this, alive = alive_.Watch()](const std::error_code& wait) {
    if (!alive.expired() && !wait) AcceptNext();
  });
}

void TcpClients::SendToAll(const Text& text) {
  if (text->empty()) return;
  // Cutting a client takes it out of the map: the iterator moves on first.
  for (auto at = clients_.begin(); at != clients_.end();) {
    const auto client = (at++)->second;
    Queue(client, text);
  }
}

void TcpClients::SendTo(ClientId id, const Text& text) {
  const auto found = clients_.find(id);
  if (found == clients_.end() || text->empty()) return;
  const auto client = found->second;  // the map's own is gone if the client is cut
  Queue(client, text);
}

void TcpClients::Queue(const std::shared_ptr<Client>& client, const Text& text) {
  if (!SendBudget::Shared().Allows(client->waiting_bytes, text->size(), most_waiting_)) {
    Drop(client);
    SendBudget::GiveBackSoon(io_);
    return;
  }
  client->waiting.push_back(text);
  client->waiting_bytes += text->size();
  SendBudget::Shared().Add(text->size());
  if (!client->writing) WriteNext(client);
}

void TcpClients::WriteNext(const std::shared_ptr<Client>& client) {
  if (client->waiting.empty()) {
    client->writing = false;
    return;
  }
  client->writing = true;
  const auto text = client->waiting.front();
  asio::async_write(
      client->socket, asio::buffer(*text),
      [this, client, text, alive = alive_.Watch()](const std::error_code& error, size_t) {
        if (alive.expired() || !client->socket.is_open()) return;
        if (error) {
          Drop(client);
          return;
        }
        client->waiting.pop_front();
        client->waiting_bytes -= text->size();
        SendBudget::Shared().Remove(text->size());
        WriteNext(client);
      });
}

void TcpClients::ReadNext(const std::shared_ptr<Client>& client) {
  client->socket.async_read_some(
      asio::buffer(client->piece),
      [this, client, alive = alive_.Watch()](const std::error_code& error, size_t size) {
        if (alive.expired() || !client->socket.is_open()) return;
        if (error == asio::error::eof && end_of_input_ == EndOfInput::kStillReading) {
          ProbeAfterEndOfInput(client);
          return;
        }
        if (error) {
          Drop(client);
          return;
        }
        if (handlers_.received) {
          handlers_.received(client->id, std::string_view(client->piece.data(), size));
        }
        if (client->socket.is_open()) ReadNext(client);
      });
}

void TcpClients::ProbeAfterEndOfInput(const std::shared_ptr<Client>& client) {
  // A reader that shut its side down and one that closed look the same until something is
  // written: an empty line now, and another a moment later, which fails (and cuts the client)
  // once the first was refused by a peer that has gone.
  static const Text kEmptyLine = std::make_shared<const std::string>("\r\n");
  Queue(client, kEmptyLine);
  client->probe = std::make_unique<asio::steady_timer>(io_, std::chrono::milliseconds(200));
  client->probe->async_wait([this, client, alive = alive_.Watch()](const std::error_code& error) {
    if (!alive.expired() && !error && client->socket.is_open()) Queue(client, kEmptyLine);
  });
}

void TcpClients::Drop(std::shared_ptr<Client> client) {
  // By value: the reference a caller holds may be the map's own, which erasing destroys.
  std::error_code ignored;
  client->socket.close(ignored);
  client->waiting.clear();
  SendBudget::Shared().Remove(std::exchange(client->waiting_bytes, 0));
  if (clients_.erase(client->id) > 0 && handlers_.closed) handlers_.closed(client->id);
}

}  // namespace quorvane
