#include "platform/host_lookup.hpp"

#include <netdb.h>

#include <cstring>
#include <mutex>
#include <thread>
#include <utility>

#include <asio/post.hpp>

namespace quorvane {

// What a lookup's thread and the loop share: whether anyone still wants the answer.
struct HostLookup::Pending {
  std::mutex mutex;
  bool wanted = true;
};

namespace {

std::pair<std::error_code, std::vector<asio::ip::tcp::endpoint>> LookUp(const std::string& host,
                                                                        uint16_t port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  const int result = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list);
  if (result != 0) {
    return {
        asio::error::make_error_code(result == EAI_NONAME ? asio::error::host_not_found
                                                          : asio::error::host_not_found_try_again),
        {}};
  }
  std::vector<asio::ip::tcp::endpoint> addresses;
  for (const addrinfo* entry = list; entry != nullptr; entry = entry->ai_next) {
    asio::ip::tcp::endpoint address;
    address.resize(entry->ai_addrlen);
    std::memcpy(address.data(), entry->ai_addr, entry->ai_addrlen);
    addresses.push_back(address);
  }
  ::freeaddrinfo(list);
  return {{}, std::move(addresses)};
}

}  // namespace

HostLookup::HostLookup(asio::io_context& io) : io_(io) {}

HostLookup::~HostLookup() {
  Cancel();
}

void HostLookup::Cancel() {
  if (!pending_) return;
  const std::lock_guard lock(pending_->mutex);
  pending_->wanted = false;
  pending_.reset();
}

void HostLookup::Start(const std::string& host, uint16_t port, Found found) {
  Cancel();
  pending_ = std::make_shared<Pending>();
  std::thread([pending = pending_, &io = io_, host, port, found = std::move(found)]() mutable {
    auto [error, addresses] = LookUp(host, port);
    // The loop is posted to only while the lookup is still wanted: its owner, which the loop
    // outlives, is then still there.
    const std::lock_guard lock(pending->mutex);
    if (!pending->wanted) return;
    asio::post(
        io, [pending, error = error, addresses = std::move(addresses), found = std::move(found)] {
          if (pending->wanted) found(error, addresses);
        });
  }).detach();
}

}  // namespace quorvane
