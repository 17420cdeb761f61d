#pragma once
// One connection to an MQTT broker, run on the io_context's thread.
//
// libmosquitto offers two ways to run a client: its own thread (mosquitto_loop_start), or a
// socket the host watches and "loop" calls it makes when the socket is ready. This client
// takes the second: asio watches the library's socket, and every callback (a message, a
// delivery, a connection made or lost) runs on the loop like the control's other sources, so
// nothing is shared between threads and a message needs no copy to cross to the loop. It also
// leaves the retry policy to us: the library's own reconnects count in whole seconds. The one
// step that can block, looking up the broker's name and connecting, runs on a short-lived thread
// of each try, with a library client the loop does not touch until that thread is done.
//
// The client speaks MQTT 3.1.1. MQTT 5 would add what a fleet could use: a session expiry
// instead of all-or-nothing clean sessions, topic aliases (a vehicle's long topic sent once),
// message expiry for fixes queued too long, reason strings on refusals, and the broker's
// receive maximum as a flow control for what is in flight.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <vector>

#include <asio/io_context.hpp>
#include <asio/posix/stream_descriptor.hpp>
#include <asio/steady_timer.hpp>

#include "base/life_token.hpp"
#include "mqtt/mqtt_settings.hpp"
#include "platform/retry_schedule.hpp"

struct mosquitto;
struct mosquitto_message;

namespace quorvane {

class MqttClient {
 public:
  struct LastWill {
    std::string topic;
    std::string payload;
    int qos = 1;
    bool retain = true;
  };

  // Throws std::runtime_error when the settings cannot be taken (a TLS file the library
  // refuses, say), naming what.
  MqttClient(asio::io_context& io, MqttBroker broker, std::optional<LastWill> will = std::nullopt);
  ~MqttClient();
  MqttClient(const MqttClient&) = delete;
  MqttClient& operator=(const MqttClient&) = delete;

  // Connects, and keeps connecting after every loss: to the next broker of the list at once,
  // and once every broker failed in turn after 0.5 s, then 1, 2, ... up to 30 s, until Close.
  // With a client id, a connection the broker closes within seconds (another client with the
  // same id takes its place) does not shorten the waits: two such clients do not storm. A broker
  // that refuses the client (a wrong password, a client it does not allow) is not tried again:
  // OnRefused says why.
  void Start();
  // Leaves the broker cleanly (so the last will is not sent) and stops trying; nothing is
  // handed on after it. It may be called from a handler; the client must not be destroyed in
  // one (GPS lets a source go on a later turn of the loop).
  void Close();
  bool Connected() const { return connected_; }
  // Has been connected at some time (to any broker of the list).
  bool EverConnected() const { return ever_connected_; }
  // Connected, and every subscription acknowledged by the broker on this connection.
  bool Subscribed() const { return connected_ && unacknowledged_subscriptions_ == 0; }
  bool Refused() const { return refused_; }
  // "HOST:PORT" of the broker in use, or being tried.
  std::string CurrentBroker() const;

  // Subscribed on every connection from now on.
  void Subscribe(const std::string& filter, int qos);
  // Hands a message to the library; its id, or nothing when the library would not take it
  // (no connection, a topic it refuses). A message is the library's only while its connection
  // lasts: one not acknowledged (on_published) by then is the caller's to send again.
  std::optional<int> Publish(const std::string& topic, std::string_view payload, int qos,
                             bool retain);

  std::function<void()> on_connected;
  // Why the connection is gone or could not be made, the seconds until the next try, and
  // whether this is the first try of this loss.
  std::function<void(const std::string& reason, double retry_seconds, bool first_of_loss)> on_lost;
  std::function<void(const std::string& reason)> on_refused;
  std::function<void(std::string_view topic, std::string_view payload)> on_message;
  std::function<void(int message_id)> on_published;

 private:
  static void ConnectCallback(mosquitto*, void* self, int result);
  static void DisconnectCallback(mosquitto*, void* self, int result);
  static void MessageCallback(mosquitto*, void* self, const mosquitto_message* message);
  static void PublishCallback(mosquitto*, void* self, int message_id);
  static void LogCallback(mosquitto*, void* self, int level, const char* text);
  static void SubscribeCallback(mosquitto*, void* self, int message_id, int count,
                                const int* granted);

  // Marks a handler of ours running inside a call of the library.
  struct Calling {
    explicit Calling(MqttClient& client) : client_(client), was_(client.in_callback_) {
      client.in_callback_ = true;
    }
    ~Calling() { client_.in_callback_ = was_; }
    MqttClient& client_;
    bool was_;
  };

  void Disconnect();
  void MakeLibraryClient();
  void DestroyLibraryClient();
  void Connect();
  // The connecting thread is done: on with the connection, or try again later.
  void ConnectTried(int result, int error_number);
  // After every call into the library: the socket it has now is the one watched, a wish to
  // write is waited for, and a connection it lost is retried.
  void Settle(int result);
  // What a result of the library means here.
  std::string FailureText(int result) const;
  void WatchSocket();
  void WaitToRead();
  void WaitToWrite();
  void StopWatching();
  void KeepAlive();
  void Lose(const std::string& what);
  const HostPort& Current() const;
  void Refuse(const std::string& reason);

  asio::io_context& io_;
  MqttBroker broker_;
  std::optional<LastWill> will_;
  std::vector<HostPort> brokers_;  // the first, then the alternates
  mosquitto* client_ = nullptr;
  struct ConnectAttempt;
  std::shared_ptr<ConnectAttempt> attempt_;  // the try being made
  asio::posix::stream_descriptor socket_;
  int watched_ = -1;
  bool waiting_to_write_ = false;
  asio::steady_timer keep_alive_;
  RetrySchedule retry_;
  size_t broker_index_ = 0;       // in brokers_
  size_t failed_this_round_ = 0;  // brokers tried in turn without a connection
  std::optional<std::chrono::steady_clock::time_point> connected_at_;  // of the connection made
  std::chrono::steady_clock::time_point connect_started_;
  std::vector<std::pair<std::string, int>> subscriptions_;
  bool closed_ = true;
  bool connected_ = false;
  bool ever_connected_ = false;
  bool refused_ = false;
  bool in_callback_ = false;
  uint64_t packets_reported_ = 0;  // by the library's callbacks: a read that took a packet
  size_t unacknowledged_subscriptions_ = 0;
  std::string lost_reason_;  // set by the library's callback, acted on when it returns
  std::string refused_reason_;
  std::string library_error_;  // the library's last word on a TLS failure
  LifeToken alive_;
};

}  // namespace quorvane
