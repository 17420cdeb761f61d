#pragma once
// A host name looked up off the loop, on a thread of its own that nobody waits for: a slow
// resolver holds neither the loop nor the end of the program (asio's resolver is joined when its
// io_context goes, however long the system's lookup takes). The answer comes back on the loop;
// a lookup that is cancelled, or whose HostLookup is gone, is left to end on its own, unheard.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>

namespace quorvane {

class HostLookup {
 public:
  using Found = std::function<void(const std::error_code& error,
                                   const std::vector<asio::ip::tcp::endpoint>& addresses)>;

  // `io` outlives this.
  explicit HostLookup(asio::io_context& io);
  ~HostLookup();
  HostLookup(const HostLookup&) = delete;
  HostLookup& operator=(const HostLookup&) = delete;

  // Looks `host` up for `port`; `found` is called on the loop, unless cancelled first. A lookup
  // still under way is cancelled by the next.
  void Start(const std::string& host, uint16_t port, Found found);
  void Cancel();

 private:
  struct Pending;
  asio::io_context& io_;
  std::shared_ptr<Pending> pending_;
};

}  // namespace quorvane
