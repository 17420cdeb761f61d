#include "nats/nats_connection.hpp"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <vector>

#include <asio/post.hpp>
#include "nats/nats_library.hpp"

namespace quorvane {

// What libnats's threads hand to the loop, while the connection's owner lives; and whether the
// library has said its last word (the connection closed), after which nothing calls back.
class NatsConnection::Mailbox {
 public:
  explicit Mailbox(asio::io_context& io) : io_(&io) {}

  template <typename Handler>
  void Post(Handler handler) {
    std::lock_guard lock(mutex_);
    if (io_ != nullptr) asio::post(*io_, std::move(handler));
  }
  void Silence() {
    std::lock_guard lock(mutex_);
    io_ = nullptr;
  }
  void SayClosed() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    said_closed_.notify_all();
  }
  void AwaitClosed(std::chrono::milliseconds most) {
    std::unique_lock lock(mutex_);
    said_closed_.wait_for(lock, most, [this] { return closed_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable said_closed_;
  asio::io_context* io_;
  bool closed_ = false;
};

namespace {

std::string ServerOf(natsConnection* connection) {
  char url[256] = {};
  if (Nats().natsConnection_GetConnectedUrl(connection, url, sizeof url) != NATS_OK) return {};
  std::string server = url;
  if (const size_t scheme = server.find("://"); scheme != std::string::npos) {
    server.erase(0, scheme + 3);
  }
  return server;
}

std::string LastErrorOf(natsConnection* connection) {
  const char* text = nullptr;
  const natsStatus status = Nats().natsConnection_GetLastError(connection, &text);
  if (text != nullptr && *text != '\0') return text;
  return status == NATS_OK ? "the server closed the connection" : Nats().natsStatus_GetText(status);
}

// Why the first try to connect failed, as the library said it on this thread.
std::string FirstTryFailure() {
  const char* text = Nats().nats_GetLastError(nullptr);
  return text != nullptr && *text != '\0' ? text : "no server answered";
}

}  // namespace

std::string NatsFailureText(int status, int jet_stream_error) {
  std::string text = Nats().natsStatus_GetText(static_cast<natsStatus>(status));
  const char* detail = Nats().nats_GetLastError(nullptr);
  if (detail != nullptr && *detail != '\0' && text != detail) text += std::string(": ") + detail;
  if (jet_stream_error != 0) text += " (JetStream error " + std::to_string(jet_stream_error) + ")";
  return text;
}

bool NatsUnanswered(int status) {
  switch (static_cast<natsStatus>(status)) {
    case NATS_TIMEOUT:
    case NATS_NO_RESPONDERS:
    case NATS_CONNECTION_CLOSED:
    case NATS_CONNECTION_DISCONNECTED:
    case NATS_NOT_YET_CONNECTED:
      return true;
    default:
      return false;
  }
}

NatsConnection::NatsConnection(asio::io_context& io, NatsServers servers, std::string name)
    : servers_(std::move(servers)),
      name_(std::move(name)),
      mailbox_(std::make_shared<Mailbox>(io)) {
  server_ = servers_.urls.front().substr(servers_.urls.front().find("://") + 3);
}

NatsConnection::~NatsConnection() {
  Close();
}

void NatsConnection::Start() {
  natsOptions* options = nullptr;
  if (Nats().natsOptions_Create(&options) != NATS_OK)
    throw std::runtime_error("libnats has no memory");
  std::vector<const char*> urls;
  for (const std::string& url : servers_.urls) urls.push_back(url.c_str());
  natsStatus status =
      Nats().natsOptions_SetServers(options, urls.data(), static_cast<int>(urls.size()));
  // The servers in the order given: the first is the one normally used.
  if (status == NATS_OK) status = Nats().natsOptions_SetNoRandomize(options, true);
  if (status == NATS_OK && !servers_.user.empty()) {
    status =
        Nats().natsOptions_SetUserInfo(options, servers_.user.c_str(), servers_.password.c_str());
  }
  if (status == NATS_OK) status = Nats().natsOptions_SetName(options, name_.c_str());
  if (status == NATS_OK) status = Nats().natsOptions_SetTimeout(options, kRequestMilliseconds);
  if (status == NATS_OK) status = Nats().natsOptions_SetMaxReconnect(options, -1);
  if (status == NATS_OK) status = Nats().natsOptions_SetReconnectWait(options, 250);
  if (status == NATS_OK) status = Nats().natsOptions_SetPingInterval(options, 5000);
  if (status == NATS_OK) {
    status =
        Nats().natsOptions_SetRetryOnFailedConnect(options, true, &NatsConnection::Connected, this);
  }
  if (status == NATS_OK) {
    status = Nats().natsOptions_SetReconnectedCB(options, &NatsConnection::Connected, this);
  }
  if (status == NATS_OK) {
    status = Nats().natsOptions_SetDisconnectedCB(options, &NatsConnection::Disconnected, this);
  }
  if (status == NATS_OK)
    status = Nats().natsOptions_SetClosedCB(options, &NatsConnection::Closed, this);
  if (status == NATS_OK) status = Nats().natsConnection_Connect(&connection_, options);
  Nats().natsOptions_Destroy(options);
  if (status != NATS_OK && status != NATS_NOT_YET_CONNECTED) {
    connection_ = nullptr;
    throw std::runtime_error(NatsFailureText(status));
  }
  jsOptions js_options;
  Nats().jsOptions_Init(&js_options);
  js_options.Wait = kRequestMilliseconds;
  if (Nats().natsConnection_JetStream(&jet_stream_, connection_, &js_options) != NATS_OK) {
    throw std::runtime_error("libnats has no JetStream context");
  }
  // The first try failed: the library goes on trying in the background.
  if (status == NATS_NOT_YET_CONNECTED) OnLost(FirstTryFailure());
  if (status == NATS_OK) OnConnected(ServerOf(connection_));
}

void NatsConnection::Close() {
  if (connection_ == nullptr) return;
  mailbox_->Silence();
  Nats().natsConnection_Close(connection_);
  // The library calls back once more, that it closed; nothing after.
  mailbox_->AwaitClosed(std::chrono::seconds(5));
  if (jet_stream_ != nullptr) Nats().jsCtx_Destroy(jet_stream_);
  Nats().natsConnection_Destroy(connection_);
  jet_stream_ = nullptr;
  connection_ = nullptr;
  connected_ = false;
}

// The library's callbacks, on its thread: `closure` is the connection, which lives until the
// library said it closed; what they report goes to the loop through the mailbox, which the
// connection silences before it closes.
void NatsConnection::Connected(natsConnection* connection, void* closure) {
  auto* self = static_cast<NatsConnection*>(closure);
  self->mailbox_->Post([self, watch = self->life_.Watch(), server = ServerOf(connection)] {
    if (watch.lock()) self->OnConnected(server);
  });
}

void NatsConnection::Disconnected(natsConnection* connection, void* closure) {
  auto* self = static_cast<NatsConnection*>(closure);
  self->mailbox_->Post([self, watch = self->life_.Watch(), reason = LastErrorOf(connection)] {
    if (watch.lock()) self->OnLost(reason);
  });
}

void NatsConnection::Closed(natsConnection* connection, void* closure) {
  auto* self = static_cast<NatsConnection*>(closure);
  self->mailbox_->Post([self, watch = self->life_.Watch(), reason = LastErrorOf(connection)] {
    if (watch.lock()) self->OnClosed(reason);
  });
  self->mailbox_->SayClosed();
}

void NatsConnection::OnConnected(std::string server) {
  if (!server.empty()) server_ = std::move(server);
  connected_ = true;
  ever_connected_ = true;
  loss_reported_ = false;
  if (on_connected) on_connected();
}

void NatsConnection::OnLost(std::string reason) {
  connected_ = false;
  if (loss_reported_) return;  // the same loss going on
  loss_reported_ = true;
  if (on_lost) on_lost(reason);
}

void NatsConnection::OnClosed(std::string reason) {
  connected_ = false;
  gave_up_ = true;
  // The library stops trying when a server refuses the login or speaks no NATS.
  if (on_refused) {
    on_refused(ever_connected_ ? reason
                               : reason + " (a login the servers refuse, or no NATS server there)");
  }
}

}  // namespace quorvane
