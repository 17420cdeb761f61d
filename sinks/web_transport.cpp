// websocketpp carries HTTP and WebSocket here: it is packaged by Debian, header-only, runs on a
// standalone Asio io_context (so the page is served on the control's own loop, no thread of its
// own), parses requests and frames itself with bounded headers, and has handshake timeouts.
// Boost.Beast would bring Boost's own Asio beside ours; cpp-httplib serves from threads of its
// own and has no WebSocket.

#include "sinks/web_transport.hpp"

#include <algorithm>
#include <cctype>
#include <system_error>

#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <vector>

#include <websocketpp/config/asio_no_tls.hpp>
#include <websocketpp/server.hpp>

#include "platform/send_budget.hpp"
#include "platform/socket_progress.hpp"

namespace quorvane {
namespace {

using Server = websocketpp::server<websocketpp::config::asio>;
using Handle = websocketpp::connection_hdl;

constexpr long kHandshakeMilliseconds = 5000;
constexpr char kLivePath[] = "/live";
constexpr char kContentSecurityPolicy[] =
    "default-src 'self'; script-src 'self'; object-src 'none'; base-uri 'none'; "
    "frame-ancestors 'none'; form-action 'none'; connect-src 'self'; "
    "img-src 'self' data: http: https:; style-src 'self' 'unsafe-inline'";

}  // namespace

struct WebTransport::Impl {
  Impl(asio::io_context& io_context, std::map<std::string, WebFile> web_files,
       WebPageHandlers page_handlers);
  void Listen(const asio::ip::tcp::endpoint& where);
  // Accepts on a socket that listens already: websocketpp binds only its own, so each
  // connection it would make is accepted here and handed to it as its own accept would.
  void AcceptOn(const asio::ip::tcp::endpoint& where, int handed);
  void AcceptNext();
  void StopListening();
  // A Host header of this server: an address, localhost or a name the user gave.
  bool OwnHost(const std::string& host) const;

  // What was handed to each page's connection, what its reader acknowledged, and what the
  // process's budget counts as waiting for it. The library keeps the text it is writing out of
  // its own count, so a page's waiting is what was handed less what was read.
  struct Ledger {
    uint64_t handed = 0;
    uint64_t acknowledged = 0;
    size_t counted = 0;
  };
  struct Page {
    Handle handle;
    Ledger ledger{};
  };

  void TakeConnection(Handle handle);
  void Answer(Handle handle);
  bool Admit(Handle handle);
  void Open(Handle handle);
  void Close(Handle handle);
  void Cut(Handle handle);
  // The page's waiting bytes in the process's budget are now `waiting`.
  void Count(Ledger& ledger, size_t waiting);
  // What waits for the page, asking the kernel how far it read once that may matter.
  size_t Waiting(Ledger& ledger, size_t more, const Server::connection_ptr& connection);

  asio::io_context& io;
  Server server;
  bool closing = false;  // the transport is gone: what websocketpp still hands on is dropped
  std::map<std::string, WebFile> files;
  WebPageHandlers handlers;
  std::vector<std::string> host_names;
  std::map<uint64_t, Page> pages;
  std::map<Handle, uint64_t, std::owner_less<Handle>> page_of;
  std::vector<Handle> connections;                           // every connection, to bound them
  std::unique_ptr<asio::ip::tcp::acceptor> handed_acceptor;  // the handed-over socket
  std::unique_ptr<asio::steady_timer> accept_pause;
  uint64_t next_page = 1;
  uint16_t port = 0;
};

WebTransport::Impl::Impl(asio::io_context& io_context, std::map<std::string, WebFile> web_files,
                         WebPageHandlers page_handlers)
    : io(io_context), files(std::move(web_files)), handlers(std::move(page_handlers)) {
  server.clear_access_channels(websocketpp::log::alevel::all);
  server.clear_error_channels(websocketpp::log::elevel::all);
  server.init_asio(&io_context);
  server.set_reuse_addr(true);
  // No Server header: which library and version answer is nobody's business.
  server.set_user_agent("");
  server.set_open_handshake_timeout(kHandshakeMilliseconds);
  server.set_close_handshake_timeout(kHandshakeMilliseconds);
  server.set_max_message_size(kLongestMessage);
  server.set_max_http_body_size(0);  // the page is only read: no request has a body
  server.set_tcp_post_init_handler([this](Handle handle) { TakeConnection(handle); });
  server.set_http_handler([this](Handle handle) {
    if (!closing) Answer(handle);
  });
  server.set_validate_handler([this](Handle handle) { return !closing && Admit(handle); });
  server.set_open_handler([this](Handle handle) {
    if (!closing) Open(handle);
  });
  server.set_close_handler([this](Handle handle) { Close(handle); });
  server.set_fail_handler([this](Handle handle) { Close(handle); });
  server.set_message_handler([this](Handle handle, Server::message_ptr message) {
    if (closing) return;
    const auto found = page_of.find(handle);
    if (found != page_of.end() && handlers.received) {
      handlers.received(found->second, message->get_payload());
    }
  });
}

void WebTransport::Impl::Listen(const asio::ip::tcp::endpoint& where) {
  std::error_code error;
  server.listen(where, error);
  if (error) throw std::system_error(error);
  server.start_accept(error);
  if (error) throw std::system_error(error);
  port = server.get_local_endpoint(error).port();
}

void WebTransport::Impl::AcceptOn(const asio::ip::tcp::endpoint& where, int handed) {
  handed_acceptor = std::make_unique<asio::ip::tcp::acceptor>(io);
  accept_pause = std::make_unique<asio::steady_timer>(io);
  std::error_code error;
  handed_acceptor->assign(where.protocol(), handed, error);
  if (error) throw std::system_error(error);
  port = where.port();
  AcceptNext();
}

void WebTransport::Impl::AcceptNext() {
  const Server::connection_ptr connection = server.get_connection();
  if (!connection) return;
  handed_acceptor->async_accept(
      connection->get_raw_socket(), [this, connection](const std::error_code& error) {
        if (closing || error == asio::error::operation_aborted) return;
        if (error) {
          // Descriptors used up and the like: tried again a little later, not in a spin.
          connection->terminate(error);
          accept_pause->expires_after(std::chrono::milliseconds(100));
          accept_pause->async_wait([this](const std::error_code& cancelled) {
            if (!cancelled && !closing) AcceptNext();
          });
          return;
        }
        server.handle_accept(connection, {});
        AcceptNext();
      });
}

void WebTransport::Impl::StopListening() {
  std::error_code ignored;
  if (!handed_acceptor) {
    server.stop_listening(ignored);
    return;
  }
  accept_pause->cancel();
  handed_acceptor->close(ignored);
}

void WebTransport::Impl::TakeConnection(Handle handle) {
  connections.erase(std::remove_if(connections.begin(), connections.end(),
                                   [](const Handle& known) { return known.expired(); }),
                    connections.end());
  std::error_code ignored;
  const Server::connection_ptr connection = server.get_con_from_hdl(handle, ignored);
  if (connections.size() < kMostConnections) {
    connections.push_back(handle);
    // The kernel keeps little for a page, so that a slow one shows in its own queue.
    connection->get_raw_socket().set_option(asio::socket_base::send_buffer_size(64 * 1024),
                                            ignored);
    return;
  }
  connection->terminate(websocketpp::error::make_error_code(websocketpp::error::general));
}

void WebTransport::Impl::Answer(Handle handle) {
  std::error_code error;
  const Server::connection_ptr connection = server.get_con_from_hdl(handle, error);
  if (error) return;
  const std::string& method = connection->get_request().get_method();
  std::string path = connection->get_resource();
  path = path.substr(0, path.find('?'));
  connection->append_header("X-Content-Type-Options", "nosniff");
  connection->append_header("Cache-Control", "no-cache");
  // Scripts only from this server's files, never inline: a name from the data that slipped into
  // the page as HTML would still run nothing. Tiles are images from wherever the user set them.
  connection->append_header("Content-Security-Policy", kContentSecurityPolicy);
  const auto file = files.find(path);
  if (method != "GET" && method != "HEAD") {
    connection->set_status(websocketpp::http::status_code::method_not_allowed);
    connection->append_header("Allow", "GET, HEAD");
  } else if (file == files.end()) {
    connection->set_status(websocketpp::http::status_code::not_found);
    connection->append_header("Content-Type", "text/plain; charset=utf-8");
    connection->set_body("not found\n");
  } else {
    connection->set_status(websocketpp::http::status_code::ok);
    connection->append_header("Content-Type", file->second.content_type);
    if (method == "GET") connection->set_body(file->second.body);
  }
}

bool WebTransport::Impl::Admit(Handle handle) {
  std::error_code error;
  const Server::connection_ptr connection = server.get_con_from_hdl(handle, error);
  if (error) return false;
  // A browser says which page opened the socket: only this server's own.
  const std::string& origin = connection->get_origin();
  const std::string& host = connection->get_request_header("Host");
  if (connection->get_resource() == kLivePath && OwnHost(host) &&
      (origin.empty() || origin == "http://" + host)) {
    return true;
  }
  connection->set_status(websocketpp::http::status_code::forbidden);
  return false;
}

bool WebTransport::Impl::OwnHost(const std::string& host) const {
  // The name without its port; an IPv6 address keeps its brackets off.
  std::string name = host;
  if (!name.empty() && name.front() == '[') {
    name = name.substr(1, name.find(']') - 1);
  } else {
    name = name.substr(0, name.rfind(':'));
  }
  std::error_code not_an_address;
  asio::ip::make_address(name, not_an_address);
  if (!not_an_address) return true;  // no name a page's site could point elsewhere
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return name == "localhost" ||
         std::find(host_names.begin(), host_names.end(), name) != host_names.end();
}

void WebTransport::Impl::Open(Handle handle) {
  const uint64_t page = next_page++;
  pages.emplace(page, Page{handle});
  page_of.emplace(handle, page);
  if (handlers.opened) handlers.opened(page);
}

void WebTransport::Impl::Close(Handle handle) {
  const auto found = page_of.find(handle);
  if (found == page_of.end()) return;
  const uint64_t page = found->second;
  page_of.erase(found);
  if (const auto open = pages.find(page); open != pages.end()) {
    Count(open->second.ledger, 0);
    pages.erase(open);
  }
  if (handlers.closed) handlers.closed(page);
}

void WebTransport::Impl::Count(Ledger& ledger, size_t waiting) {
  SendBudget::Shared().Remove(ledger.counted);
  SendBudget::Shared().Add(waiting);
  ledger.counted = waiting;
}

size_t WebTransport::Impl::Waiting(Ledger& ledger, size_t more,
                                   const Server::connection_ptr& connection) {
  // A page that keeps up is asked about once in kCloseBehind bytes.
  if (ledger.handed - ledger.acknowledged + more > SendBudget::kCloseBehind) {
    if (const auto read = BytesAcknowledged(connection->get_raw_socket().native_handle())) {
      // (The count includes the handshake's answer.)
      ledger.acknowledged = std::min(*read, ledger.handed);
    }
  }
  return static_cast<size_t>(ledger.handed - ledger.acknowledged);
}

void WebTransport::Impl::Cut(Handle handle) {
  std::error_code error;
  const Server::connection_ptr connection = server.get_con_from_hdl(handle, error);
  Close(handle);
  if (!error)
    connection->terminate(websocketpp::error::make_error_code(websocketpp::error::general));
}

WebTransport::WebTransport(asio::io_context& io, const asio::ip::tcp::endpoint& where, int handed,
                           std::map<std::string, WebFile> files, WebPageHandlers handlers,
                           std::vector<std::string> host_names)
    : impl_(std::make_shared<Impl>(io, std::move(files), std::move(handlers))) {
  if (handed >= 0) {
    impl_->AcceptOn(where, handed);
  } else {
    impl_->Listen(where);
  }
  for (std::string& name : host_names) {
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  impl_->host_names = std::move(host_names);
}

WebTransport::~WebTransport() {
  std::error_code ignored;
  impl_->closing = true;
  impl_->handlers = {};
  for (auto& [number, page] : impl_->pages) impl_->Count(page.ledger, 0);
  impl_->StopListening();
  for (const Handle& handle : impl_->connections) {
    if (const auto connection = impl_->server.get_con_from_hdl(handle, ignored); !ignored) {
      connection->terminate(websocketpp::error::make_error_code(websocketpp::error::general));
    }
  }
  // What the closing queued (the aborted accept, the connections' ends) runs before these two
  // turns of the loop are over; the server lives until then.
  asio::post(impl_->io, [keep = impl_] { asio::post(keep->io, [keep] {}); });
}

void WebTransport::Send(uint64_t page, const std::shared_ptr<const std::string>& text) {
  const auto found = impl_->pages.find(page);
  if (found == impl_->pages.end()) return;
  const Handle handle = found->second.handle;
  std::error_code error;
  const Server::connection_ptr connection = impl_->server.get_con_from_hdl(handle, error);
  if (error) {
    impl_->Cut(handle);
    return;
  }
  Impl::Ledger& ledger = found->second.ledger;
  const size_t waiting = impl_->Waiting(ledger, text->size(), connection);
  impl_->Count(ledger, waiting);
  if (!SendBudget::Shared().Allows(waiting, text->size(), kMostWaiting)) {
    impl_->Cut(handle);
    SendBudget::GiveBackSoon(impl_->io);
    return;
  }
  connection->send(*text, websocketpp::frame::opcode::text);
  ledger.handed += text->size();
  impl_->Count(ledger, waiting + text->size());
}

size_t WebTransport::Pages() const {
  return impl_->pages.size();
}

uint16_t WebTransport::Port() const {
  return impl_->port;
}

}  // namespace quorvane
