#include "mqtt/mqtt_client.hpp"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <thread>

#include <asio/post.hpp>
#include "mqtt/mosquitto_library.hpp"

namespace quorvane {
namespace {

using namespace std::chrono_literals;

// The library keeps process-wide state (OpenSSL's among it), set up once.
void InitialiseLibrary() {
  static std::once_flag once;
  std::call_once(once, [] { Mosquitto().mosquitto_lib_init(); });
}

std::string ResultText(int result) {
  if (result == MOSQ_ERR_ERRNO) return std::generic_category().message(errno);
  return Mosquitto().mosquitto_strerror(result);
}

// The broker hears from us at least this often, and a broker silent for half as long again is
// taken as gone.
constexpr int kKeepAliveSeconds = 30;

// Reading waits for the next packet while bytes of it are already here: a burst of messages is
// read in one turn of the loop (up to a bound, so other work still gets its turn). A packet the
// library reported (a message, an acknowledgement) says that reading goes on; after any other
// read, the socket is asked whether bytes wait (a system call a packet, which a fleet's burst
// of messages spares).
constexpr int kPacketsPerTurn = 256;

bool BytesWaiting(int socket) {
  int count = 0;
  return ::ioctl(socket, FIONREAD, &count) == 0 && count > 0;
}

}  // namespace

MqttClient::MqttClient(asio::io_context& io, MqttBroker broker, std::optional<LastWill> will)
    : io_(io),
      broker_(std::move(broker)),
      will_(std::move(will)),
      brokers_(1, HostPort{broker_.host, broker_.port}),
      socket_(io),
      keep_alive_(io),
      retry_(io) {
  brokers_.insert(brokers_.end(), broker_.alternates.begin(), broker_.alternates.end());
  InitialiseLibrary();
  // Made once here so that settings the library refuses are said at once.
  MakeLibraryClient();
}

void MqttClient::MakeLibraryClient() {
  DestroyLibraryClient();
  const bool named = !broker_.client_id.empty();
  client_ = Mosquitto().mosquitto_new(named ? broker_.client_id.c_str() : nullptr,
                                      /*clean_session=*/!named, this);
  if (client_ == nullptr) {
    throw std::runtime_error("Cannot make an MQTT client: " + ResultText(MOSQ_ERR_ERRNO));
  }
  Mosquitto().mosquitto_int_option(client_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
  Mosquitto().mosquitto_int_option(client_, MOSQ_OPT_TCP_NODELAY, 1);
  // What is in flight is bounded by whoever publishes (the fix publisher keeps a window).
  Mosquitto().mosquitto_max_inflight_messages_set(client_, 0);
  Mosquitto().mosquitto_connect_callback_set(client_, &MqttClient::ConnectCallback);
  Mosquitto().mosquitto_disconnect_callback_set(client_, &MqttClient::DisconnectCallback);
  Mosquitto().mosquitto_message_callback_set(client_, &MqttClient::MessageCallback);
  Mosquitto().mosquitto_publish_callback_set(client_, &MqttClient::PublishCallback);
  Mosquitto().mosquitto_subscribe_callback_set(client_, &MqttClient::SubscribeCallback);
  Mosquitto().mosquitto_log_callback_set(client_, &MqttClient::LogCallback);
  auto refuse = [&](const std::string& what, int result) {
    const std::string why = ResultText(result);  // before anything else may change errno
    DestroyLibraryClient();
    throw std::runtime_error("MQTT broker " + CurrentBroker() + ": " + what + ": " + why);
  };
  if (!broker_.user.empty()) {
    const int result = Mosquitto().mosquitto_username_pw_set(
        client_, broker_.user.c_str(),
        broker_.password.empty() ? nullptr : broker_.password.c_str());
    if (result != MOSQ_ERR_SUCCESS) refuse("cannot use the user name", result);
  }
  if (will_) {
    const int result = Mosquitto().mosquitto_will_set(
        client_, will_->topic.c_str(), static_cast<int>(will_->payload.size()),
        will_->payload.data(), will_->qos, will_->retain);
    if (result != MOSQ_ERR_SUCCESS) refuse("cannot set the last will on " + will_->topic, result);
  }
  if (broker_.tls) {
    const MqttTlsFiles& files = broker_.tls_files;
    for (const auto& [what, path] : {std::pair{"the CA file ", &files.ca_file},
                                     std::pair{"the client certificate ", &files.certificate_file},
                                     std::pair{"the client key ", &files.key_file}}) {
      if (!path->empty() && ::access(path->c_str(), R_OK) != 0) {
        refuse(std::string("cannot read ") + what + *path, MOSQ_ERR_ERRNO);
      }
    }
    auto file_or_null = [](const std::string& path) {
      return path.empty() ? nullptr : path.c_str();
    };
    if (files.ca_file.empty())
      Mosquitto().mosquitto_int_option(client_, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
    const int result = Mosquitto().mosquitto_tls_set(
        client_, file_or_null(files.ca_file), files.ca_file.empty() ? "/etc/ssl/certs" : nullptr,
        file_or_null(files.certificate_file), file_or_null(files.key_file), nullptr);
    if (result != MOSQ_ERR_SUCCESS) refuse("cannot use the TLS files", result);
  }
}

// A try to connect, made on a thread of its own. The loop may give it up while the thread still
// waits on a resolver or a silent broker: the thread then destroys the library client itself and
// tells the loop nothing. Nothing ever waits for the thread.
struct MqttClient::ConnectAttempt {
  std::mutex mutex;
  bool abandoned = false;
  bool finished = false;  // the thread is done with the library client
};

void MqttClient::DestroyLibraryClient() {
  if (attempt_) {
    const auto attempt = std::move(attempt_);
    const std::lock_guard lock(attempt->mutex);
    if (!attempt->finished) {
      // The thread owns the library client from now on.
      attempt->abandoned = true;
      client_ = nullptr;
      return;
    }
    // Its result is still on its way to the loop: the client is the loop's to destroy.
  }
  if (client_ == nullptr) return;
  StopWatching();
  Mosquitto().mosquitto_destroy(client_);
  client_ = nullptr;
}

MqttClient::~MqttClient() {
  Close();
  DestroyLibraryClient();
}

void MqttClient::Start() {
  closed_ = false;
  refused_ = false;
  // The first try is made on the loop, as every later one is: a broker that is not there is
  // said by the loop, never by Start.
  asio::post(io_, [this, alive = alive_.Watch()] {
    if (!alive.expired() && !closed_) Connect();
  });
  KeepAlive();
}

void MqttClient::Close() {
  if (closed_) return;
  closed_ = true;
  retry_.Cancel();
  keep_alive_.cancel();
  if (in_callback_) {
    // The library is calling us, with its locks held: it is left when that call has returned.
    asio::post(io_, [this, alive = alive_.Watch()] {
      if (!alive.expired()) Disconnect();
    });
    return;
  }
  Disconnect();
}

void MqttClient::Disconnect() {
  if (connected_) {
    // DISCONNECT is written at once (the socket is idle or nearly so) and the socket closed.
    Mosquitto().mosquitto_disconnect(client_);
    for (int tries = 0; tries < 16 && Mosquitto().mosquitto_want_write(client_); ++tries) {
      Mosquitto().mosquitto_loop_write(client_, 1);
    }
  }
  connected_ = false;
  StopWatching();
}

void MqttClient::Subscribe(const std::string& filter, int qos) {
  subscriptions_.emplace_back(filter, qos);
  if (!connected_) return;
  ++unacknowledged_subscriptions_;
  Settle(Mosquitto().mosquitto_subscribe(client_, nullptr, filter.c_str(), qos));
}

std::optional<int> MqttClient::Publish(const std::string& topic, std::string_view payload, int qos,
                                       bool retain) {
  if (!connected_ || closed_) return std::nullopt;
  int message_id = 0;
  const int result =
      Mosquitto().mosquitto_publish(client_, &message_id, topic.c_str(),
                                    static_cast<int>(payload.size()), payload.data(), qos, retain);
  if (result != MOSQ_ERR_SUCCESS) return std::nullopt;
  Settle(MOSQ_ERR_SUCCESS);
  return message_id;
}

void MqttClient::Connect() {
  lost_reason_.clear();
  connect_started_ = std::chrono::steady_clock::now();
  // A client of its own for every connection: what the last one had not delivered is the
  // publisher's to send again, in its order, and not also the library's.
  try {
    MakeLibraryClient();
  } catch (const std::runtime_error& error) {
    Lose(error.what());
    return;
  }
  // The broker's name is looked up and connected to on a thread of this try's own: a lookup
  // that takes seconds (no network, a slow resolver) never holds the loop, which is the
  // receiver's too. The loop leaves the new library client alone until the thread is done.
  attempt_ = std::make_shared<ConnectAttempt>();
  std::thread([this, attempt = attempt_, client = client_, host = Current().host,
               port = Current().port, alive = alive_.Watch()] {
    const int result =
        Mosquitto().mosquitto_connect_async(client, host.c_str(), port, kKeepAliveSeconds);
    const int error_number = errno;
    const std::lock_guard lock(attempt->mutex);
    if (attempt->abandoned) {
      Mosquitto().mosquitto_destroy(client);
      return;
    }
    attempt->finished = true;
    asio::post(io_, [this, attempt, alive, result, error_number] {
      if (!alive.expired() && attempt == attempt_) ConnectTried(result, error_number);
    });
  }).detach();
}

void MqttClient::ConnectTried(int result, int error_number) {
  attempt_.reset();
  if (closed_) return;
  if (result != MOSQ_ERR_SUCCESS) {
    errno = error_number;  // what the failure means may be in it
    Lose("cannot connect: " + FailureText(result));
    return;
  }
  Settle(MOSQ_ERR_SUCCESS);
}

std::string MqttClient::FailureText(int result) const {
  // Before the connection is made over TLS, the library's protocol and TLS errors are the
  // handshake (OpenSSL's own words are added when it has any).
  const bool handshake_failure = result == MOSQ_ERR_PROTOCOL || result == MOSQ_ERR_TLS ||
                                 (result == MOSQ_ERR_ERRNO && errno == EPROTO);
  if (handshake_failure && broker_.tls && !connected_) return "the TLS handshake failed";
  if (result == MOSQ_ERR_EAI) return "cannot find host \"" + Current().host + "\"";
  return ResultText(result);
}

void MqttClient::Settle(int result) {
  if (!refused_reason_.empty()) {
    std::string reason = std::move(refused_reason_);
    refused_reason_.clear();
    Refuse(reason);
    return;
  }
  if (result != MOSQ_ERR_SUCCESS && lost_reason_.empty()) lost_reason_ = FailureText(result);
  if (!lost_reason_.empty() || Mosquitto().mosquitto_socket(client_) < 0) {
    StopWatching();
    if (!closed_) Lose(lost_reason_.empty() ? "the connection closed" : lost_reason_);
    return;
  }
  WatchSocket();
  if (Mosquitto().mosquitto_want_write(client_)) WaitToWrite();
}

void MqttClient::WatchSocket() {
  const int socket = Mosquitto().mosquitto_socket(client_);
  if (socket == watched_) return;
  StopWatching();
  socket_.assign(socket);
  watched_ = socket;
  WaitToRead();
}

void MqttClient::StopWatching() {
  if (watched_ < 0) return;
  // The library owns the socket (and may have closed it already): it is only let go of.
  std::error_code ignored;
  socket_.cancel(ignored);
  socket_.release();
  watched_ = -1;
  waiting_to_write_ = false;
}

void MqttClient::WaitToRead() {
  socket_.async_wait(
      asio::posix::stream_descriptor::wait_read,
      [this, alive = alive_.Watch(), socket = watched_](const std::error_code& error) {
        if (alive.expired() || error || closed_ || socket != watched_) return;
        int result = MOSQ_ERR_SUCCESS;
        for (int packets = 0; packets < kPacketsPerTurn; ++packets) {
          const uint64_t reported = packets_reported_;
          result = Mosquitto().mosquitto_loop_read(client_, 1);
          if (result != MOSQ_ERR_SUCCESS || !lost_reason_.empty() || !refused_reason_.empty() ||
              closed_ || Mosquitto().mosquitto_socket(client_) != socket ||
              (packets_reported_ == reported && !BytesWaiting(socket))) {
            break;
          }
        }
        if (closed_) return;
        const bool same_socket = Mosquitto().mosquitto_socket(client_) == socket;
        Settle(result);
        if (same_socket && watched_ == socket) WaitToRead();
      });
}

void MqttClient::WaitToWrite() {
  if (waiting_to_write_ || watched_ < 0) return;
  waiting_to_write_ = true;
  socket_.async_wait(
      asio::posix::stream_descriptor::wait_write,
      [this, alive = alive_.Watch(), socket = watched_](const std::error_code& error) {
        if (alive.expired() || socket != watched_) return;
        waiting_to_write_ = false;
        if (error || closed_) return;
        Settle(Mosquitto().mosquitto_loop_write(client_, 1));
      });
}

void MqttClient::KeepAlive() {
  keep_alive_.expires_after(1s);
  keep_alive_.async_wait([this, alive = alive_.Watch()](const std::error_code& error) {
    if (alive.expired() || error || closed_) return;
    // A broker that takes the connection and never answers it (a node that hangs) is left for
    // the next.
    constexpr auto kLongestHandshake = std::chrono::seconds(10);
    if (watched_ >= 0 && !connected_ &&
        std::chrono::steady_clock::now() - connect_started_ > kLongestHandshake) {
      StopWatching();
      Lose("no answer within 10 s");
    } else if (watched_ >= 0) {
      // Pings the broker when the keep-alive is due, and finds a broker that stopped answering.
      Settle(Mosquitto().mosquitto_loop_misc(client_));
    }
    KeepAlive();
  });
}

const HostPort& MqttClient::Current() const {
  return brokers_[broker_index_];
}

std::string MqttClient::CurrentBroker() const {
  return HostAndPortText(Current().host, Current().port);
}

void MqttClient::Lose(const std::string& what) {
  // A named client's connection that the broker closes at once is taken over by another client
  // of that name: the waits go on growing, so that the two do not take turns without end.
  constexpr auto kSettled = std::chrono::seconds(10);
  // (The library's callback has already marked the connection gone: when it was made says.)
  const bool had_connection = connected_at_.has_value();
  const bool short_lived = had_connection && !broker_.client_id.empty() &&
                           std::chrono::steady_clock::now() - *connected_at_ < kSettled;
  if (had_connection && !short_lived) retry_.Connected();
  connected_at_.reset();
  connected_ = false;
  lost_reason_.clear();
  // What OpenSSL said is what a TLS failure means ("certificate verify failed").
  std::string reason = library_error_.empty() ? what : what + " (" + library_error_ + ")";
  library_error_.clear();
  if (short_lived) {
    reason +=
        " soon after it was made: is another client using the id \"" + broker_.client_id + "\"?";
  }
  const size_t brokers = brokers_.size();
  if (brokers > 1) reason += " (" + CurrentBroker() + ")";
  // The next broker of the list at once; a round of them all failed, the usual wait.
  broker_index_ = (broker_index_ + 1) % brokers;
  const bool round_over = ++failed_this_round_ >= brokers;
  if (round_over) failed_this_round_ = 0;
  auto retry = [this, alive = alive_.Watch()] {
    if (!alive.expired() && !closed_) Connect();
  };
  const auto next = round_over ? retry_.Schedule(std::move(retry)) : retry_.Now(std::move(retry));
  if (on_lost) on_lost(reason, next.seconds, next.first_of_loss);
}

void MqttClient::Refuse(const std::string& reason) {
  // Trying again with the same credentials would be refused again, as often as we tried.
  refused_ = true;
  closed_ = true;
  connected_ = false;
  retry_.Cancel();
  keep_alive_.cancel();
  Mosquitto().mosquitto_disconnect(client_);
  StopWatching();
  if (on_refused) on_refused(reason);
}

void MqttClient::ConnectCallback(mosquitto*, void* self, int result) {
  auto& client = *static_cast<MqttClient*>(self);
  ++client.packets_reported_;
  if (result != 0) {
    client.refused_reason_ = "the broker refused the connection: " +
                             std::string(Mosquitto().mosquitto_connack_string(result));
    return;
  }
  client.connected_ = true;
  client.ever_connected_ = true;
  client.connected_at_ = std::chrono::steady_clock::now();
  client.failed_this_round_ = 0;
  // A named client's waits are shortened only by a connection that lasts (Lose).
  if (client.broker_.client_id.empty()) client.retry_.Connected();
  const Calling calling(client);
  client.unacknowledged_subscriptions_ = client.subscriptions_.size();
  for (const auto& [filter, qos] : client.subscriptions_) {
    Mosquitto().mosquitto_subscribe(client.client_, nullptr, filter.c_str(), qos);
  }
  if (client.on_connected) client.on_connected();
}

void MqttClient::DisconnectCallback(mosquitto*, void* self, int result) {
  auto& client = *static_cast<MqttClient*>(self);
  std::string reason = result == 0                    ? "the connection closed"
                       : result == MOSQ_ERR_CONN_LOST ? "the broker closed the connection"
                                                      : client.FailureText(result);
  client.connected_ = false;
  if (!client.closed_) client.lost_reason_ = std::move(reason);
}

void MqttClient::MessageCallback(mosquitto*, void* self, const mosquitto_message* message) {
  auto& client = *static_cast<MqttClient*>(self);
  ++client.packets_reported_;
  if (!client.on_message || client.closed_) return;
  const Calling calling(client);
  client.on_message(message->topic, {static_cast<const char*>(message->payload),
                                     static_cast<size_t>(std::max(message->payloadlen, 0))});
}

void MqttClient::LogCallback(mosquitto*, void* self, int level, const char* text) {
  auto& client = *static_cast<MqttClient*>(self);
  constexpr std::string_view kOpenSsl = "OpenSSL Error[0]: ";
  const std::string_view line = text;
  if ((level & MOSQ_LOG_ERR) == 0 || !line.starts_with(kOpenSsl)) return;
  // "error:0A000086:SSL routines::certificate verify failed": the words after the codes.
  const size_t words = line.rfind(':');
  client.library_error_ =
      line.substr(words == std::string_view::npos ? kOpenSsl.size() : words + 1);
}

void MqttClient::SubscribeCallback(mosquitto*, void* self, int, int, const int*) {
  auto& client = *static_cast<MqttClient*>(self);
  ++client.packets_reported_;
  if (client.unacknowledged_subscriptions_ > 0) --client.unacknowledged_subscriptions_;
}

void MqttClient::PublishCallback(mosquitto*, void* self, int message_id) {
  auto& client = *static_cast<MqttClient*>(self);
  ++client.packets_reported_;
  const Calling calling(client);
  if (client.on_published) client.on_published(message_id);
}

}  // namespace quorvane
