#pragma once
// One connection to a NATS server or cluster through libnats, with its JetStream context.
//
// libnats runs its own threads: it connects in the background, reconnects after every loss (to
// the servers of the list in turn) and calls back on a thread of its own. What its callbacks
// report (connected, lost, back, closed for good) is handed to the loop, so that the owner's
// handlers run there like every other source's; the owner's workers may meanwhile call the
// library from threads of their own, which it allows.

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include <asio/io_context.hpp>

#include "base/life_token.hpp"
#include "nats/nats_address.hpp"

struct __natsConnection;
struct __jsCtx;

namespace quorvane {

class NatsConnection {
 public:
  // How long one request (a publication's acknowledgement, a fetch) waits for its answer.
  static constexpr int kRequestMilliseconds = 2000;

  // `name` is the client's name the servers show.
  NatsConnection(asio::io_context& io, NatsServers servers, std::string name);
  ~NatsConnection();
  NatsConnection(const NatsConnection&) = delete;
  NatsConnection& operator=(const NatsConnection&) = delete;

  // Connects in the background, and again after every loss, until Close. Throws
  // std::runtime_error when the library refuses the settings.
  void Start();
  // Leaves the servers; no handler runs after it.
  void Close();

  // As seen from the loop.
  bool Connected() const { return connected_; }
  bool EverConnected() const { return ever_connected_; }
  bool GaveUp() const { return gave_up_; }
  // "HOST:PORT" of the server in use, or the first of the list before one answered.
  std::string CurrentServer() const { return server_; }

  // For the owner's workers: the connection and its JetStream context, from Start to Close.
  __natsConnection* Raw() const { return connection_; }
  __jsCtx* JetStream() const { return jet_stream_; }

  // On the loop: connected (again), to CurrentServer(); the connection lost, or the first try
  // failed (said once for each loss, while the library tries again); closed for good before or
  // after connecting (the servers refused the login, say).
  std::function<void()> on_connected;
  std::function<void(const std::string& reason)> on_lost;
  std::function<void(const std::string& reason)> on_refused;

 private:
  class Mailbox;
  static void Connected(__natsConnection* connection, void* closure);
  static void Disconnected(__natsConnection* connection, void* closure);
  static void Closed(__natsConnection* connection, void* closure);

  void OnConnected(std::string server);
  void OnLost(std::string reason);
  void OnClosed(std::string reason);

  NatsServers servers_;
  std::string name_;
  std::string server_;
  bool connected_ = false;
  bool ever_connected_ = false;
  bool gave_up_ = false;
  bool loss_reported_ = false;
  std::shared_ptr<Mailbox> mailbox_;
  __natsConnection* connection_ = nullptr;
  __jsCtx* jet_stream_ = nullptr;
  LifeToken life_;
};

// libnats's text for a status, with the server's JetStream error code when there is one.
std::string NatsFailureText(int status, int jet_stream_error = 0);

// The status says only that no answer came (the servers electing, the connection moving): what
// asked is asked again, unsaid.
bool NatsUnanswered(int status);

}  // namespace quorvane
