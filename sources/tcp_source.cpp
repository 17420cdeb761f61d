#include "sources/tcp_source.hpp"

#include <asio/connect.hpp>
#include <asio/write.hpp>

#include "sources/source_factory.hpp"

namespace quorvane {

TcpSource::TcpSource(asio::io_context& io, std::string name, std::string host, uint16_t port,
                     std::string greeting)
    : lookup_(io),
      socket_(io),
      retry_(io),
      name_(std::move(name)),
      host_(std::move(host)),
      port_(port),
      greeting_(std::move(greeting)) {}

TcpSource::~TcpSource() {
  Close();
}

void TcpSource::Begin(BlockHandler on_block) {
  on_block_ = std::move(on_block);
  closed_ = false;
  Resolve();
}

void TcpSource::Close() {
  closed_ = true;
  connected_ = false;
  retry_.Cancel();
  lookup_.Cancel();
  std::error_code ignored;
  socket_.close(ignored);
}

void TcpSource::Resolve() {
  lookup_.Start(
      host_, port_,
      [this](const std::error_code& error, const std::vector<asio::ip::tcp::endpoint>& found) {
        if (closed_) return;
        if (error || found.empty()) {
          Lose("cannot find host \"" + host_ + "\"" +
               (error ? ": " + error.message() : std::string()));
          return;
        }
        Connect(found);
      });
}

void TcpSource::Connect(const std::vector<asio::ip::tcp::endpoint>& found) {
  std::error_code ignored;
  socket_.close(ignored);
  asio::async_connect(
      socket_, found,
      [this, alive = alive_.Watch()](const std::error_code& error, const asio::ip::tcp::endpoint&) {
        if (alive.expired() || closed_ || error == asio::error::operation_aborted) return;
        if (error) {
          Lose(error.message());
          return;
        }
        connected_ = true;
        ever_connected_ = true;
        retry_.Connected();
        if (!greeting_.empty()) {
          asio::async_write(socket_, asio::buffer(greeting_), [](const std::error_code&, size_t) {
            // A server that will not take the greeting shows it by closing, which the read sees.
          });
        }
        ReadNext();
      });
}

void TcpSource::ReadNext() {
  socket_.async_read_some(asio::buffer(buffer_), [this, alive = alive_.Watch()](
                                                     const std::error_code& error, size_t length) {
    if (alive.expired() || closed_ || error == asio::error::operation_aborted) return;
    if (error) {
      Lose(error == asio::error::eof ? std::string("the server closed the connection")
                                     : error.message());
      return;
    }
    on_block_({buffer_.data(), length}, {});
    if (!alive.expired() && !closed_) ReadNext();
  });
}

void TcpSource::Lose(const std::string& reason) {
  connected_ = false;
  std::error_code ignored;
  socket_.close(ignored);
  const auto next = retry_.Schedule([this, alive = alive_.Watch()] {
    if (!alive.expired() && !closed_) Resolve();
  });
  ReportLost(reason, next.seconds, next.first_of_loss);
}

void RegisterTcpSources(SourceFactory& factory) {
  const auto make = [](const SourceAddress& address, const std::string& text,
                       const SourceContext& context) {
    // gpsd speaks JSON until asked for the receiver's own sentences; its JSON lines (no "$")
    // are left out by the line assembler.
    const std::string greeting = address.scheme == SourceAddress::Scheme::kGpsd
                                     ? "?WATCH={\"enable\":true,\"nmea\":true}\n"
                                     : "";
    return MadeSource{
        std::make_shared<TcpSource>(context.io, text, address.host, address.port, greeting), text};
  };
  factory.Register(SourceAddress::Scheme::kTcp, make);
  factory.Register(SourceAddress::Scheme::kGpsd, make);
}

}  // namespace quorvane
