#pragma once
// HTTP and WebSocket on the control's loop, for a page that the map sink feeds: a fixed table of
// files (nothing else is answered: no path is ever looked up on disk), and pages connected over
// WebSocket that get text pushed to them.
//
// Bounded whatever clients do: at most kMostConnections at once (one more is closed at once),
// a connection that has not finished its request within five seconds closed, requests and
// headers as small as websocketpp keeps them (16 kB of headers), messages from a page at most
// kLongestMessage, and a page that reads too slowly cut once kMostWaiting waits for it. A
// WebSocket opened from another site's page (an Origin that is not this server) is refused, and
// so is one asked for under a name that is not this server's (a name of someone else's that was
// made to point here, to read the positions from a page of theirs).
//
// (This header is C++17: websocketpp, behind it, does not build as C++20.)

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>

namespace quorvane {

struct WebFile {
  std::string content_type;
  std::string body;
};

struct WebPageHandlers {
  std::function<void(uint64_t page)> opened = nullptr;
  std::function<void(uint64_t page, const std::string& message)> received = nullptr;
  std::function<void(uint64_t page)> closed = nullptr;
};

class WebTransport {
 public:
  static constexpr size_t kMostConnections = 512;
  static constexpr size_t kMostWaiting = 4 * 1024 * 1024;
  static constexpr size_t kLongestMessage = 4096;

  // Listens on `where` (or accepts on `handed`, a socket already listening there that a service
  // manager handed over, when it is not -1), answering `files` by their paths ("/", "/map.js",
  // ...); throws std::system_error when it cannot listen. Pages connect under an address,
  // "localhost" or one of `host_names`.
  WebTransport(asio::io_context& io, const asio::ip::tcp::endpoint& where, int handed,
               std::map<std::string, WebFile> files, WebPageHandlers handlers,
               std::vector<std::string> host_names = {});
  ~WebTransport();
  WebTransport(const WebTransport&) = delete;
  WebTransport& operator=(const WebTransport&) = delete;

  // To one page; a page that cannot take it (gone, or too far behind) is cut.
  void Send(uint64_t page, const std::shared_ptr<const std::string>& text);
  size_t Pages() const;
  uint16_t Port() const;

 private:
  struct Impl;
  // Shared: websocketpp's own handlers, queued when it closes, still name it.
  std::shared_ptr<Impl> impl_;
};

}  // namespace quorvane
