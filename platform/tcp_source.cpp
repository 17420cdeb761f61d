#include "platform/tcp_source.hpp"

#include <asio/write.hpp>

namespace quorvane {

TcpSource::TcpSource(asio::io_context& io, std::string name, asio::ip::tcp::endpoint server,
                     std::string greeting)
    : socket_(io),
      retry_(io),
      name_(std::move(name)),
      server_(server),
      greeting_(std::move(greeting)) {}

TcpSource::~TcpSource() {
  Close();
}

void TcpSource::Begin(BlockHandler on_block) {
  on_block_ = std::move(on_block);
  closed_ = false;
  Connect();
}

void TcpSource::Close() {
  closed_ = true;
  connected_ = false;
  retry_.Cancel();
  std::error_code ignored;
  socket_.close(ignored);
}

void TcpSource::Connect() {
  std::error_code ignored;
  socket_.close(ignored);
  socket_.async_connect(
      server_, [this, alive = std::weak_ptr<char>(alive_)](const std::error_code& error) {
        if (alive.expired() || closed_ || error == asio::error::operation_aborted) return;
        if (error) {
          Lose("cannot connect: " + error.message());
          return;
        }
        connected_ = true;
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
  socket_.async_read_some(asio::buffer(buffer_), [this, alive = std::weak_ptr<char>(alive_)](
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
  const auto next = retry_.Schedule([this, alive = std::weak_ptr<char>(alive_)] {
    if (!alive.expired() && !closed_) Connect();
  });
  if (on_lost_) on_lost_(reason, next.seconds, next.first_of_loss);
}

}  // namespace quorvane
