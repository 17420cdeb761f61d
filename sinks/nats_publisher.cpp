#include "sinks/nats_publisher.hpp"

#include <cmath>

#include "nats/nats_library.hpp"

#include "base/text_rules.hpp"
#include "sinks/sink_factory.hpp"

namespace quorvane {
namespace {

constexpr int64_t kNanosecondsPerSecond = 1000000000;
// How long the stream remembers a message id, to drop the same fix sent again.
constexpr int64_t kDuplicateWindowSeconds = 600;

}  // namespace

NatsPublisher::NatsPublisher(asio::io_context& io, NatsServers servers, std::string name,
                             NatsPublishing settings, StreamStates& streams,
                             std::function<void(const std::string&)> warn)
    : connection_(io, std::move(servers), "gps-monitor publisher"),
      name_(std::move(name)),
      settings_(std::move(settings)),
      fix_subject_(settings_.prefix + ".fix"),
      sky_subject_(settings_.prefix + ".sky"),
      nmea_subject_(settings_.prefix + ".nmea"),
      sky_changes_(streams),
      warn_(std::move(warn)),
      io_(io) {
  if (settings_.stream.empty()) settings_.stream = SubjectRoot(settings_.prefix);
  connection_.on_lost = [this](const std::string& reason) {
    Warn("publishing to " + name_ + " lost: " + reason);
  };
  connection_.on_refused = [this](const std::string& reason) {
    Warn("cannot publish to " + name_ + ": " + reason);
  };
  connection_.Start();
  worker_ = std::thread([this] { Work(); });
}

NatsPublisher::~NatsPublisher() {
  Close();
}

void NatsPublisher::TakeEpoch(const Fix& fix, const std::string& stream) {
  // The id is the fix's own: the same fix sent twice is one fix to the stream.
  const std::string time = IsoTimeText(fix);
  Enqueue({fix_subject_, TpvJson(fix, stream), time.empty() ? "" : settings_.prefix + "@" + time});
  if (sky_changes_.Take(fix, stream)) {
    Enqueue({sky_subject_, SkyJson(fix, stream),
             time.empty() ? "" : settings_.prefix + ".sky@" + time});
  }
}

void NatsPublisher::TakeBlock(std::string_view block, const BlockOrigin&) {
  if (!settings_.nmea || !connection_.Connected()) return;
  if (Nats().natsConnection_Publish(connection_.Raw(), nmea_subject_.c_str(), block.data(),
                                    static_cast<int>(block.size())) != NATS_OK) {
    ++skipped_blocks_;
  }
}

void NatsPublisher::Enqueue(Waiting waiting) {
  {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    if (queue_.size() >= settings_.queue_limit) {
      ++dropped_;
      // The oldest not on its way goes; when only the one on its way is there, the new one.
      const size_t oldest_waiting = in_flight_ ? 1 : 0;
      if (oldest_waiting == queue_.size()) return;
      queue_.erase(queue_.begin() + static_cast<std::ptrdiff_t>(oldest_waiting));
    }
    queue_.push_back(std::move(waiting));
  }
  changed_.notify_all();
}

bool NatsPublisher::Pause(std::chrono::milliseconds span) {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, span, [this] { return closed_; });
  return !closed_;
}

void NatsPublisher::Work() {
  for (;;) {
    Waiting next;
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] { return closed_ || !queue_.empty(); });
      if (closed_) return;
      next = queue_.front();
      in_flight_ = true;
    }
    const bool published = Publish(next);
    {
      std::lock_guard lock(mutex_);
      if (published) queue_.pop_front();
      in_flight_ = false;
    }
    if (published) {
      ++published_;
      last_trouble_.clear();
    } else {
      // The same fix again after a pause: the library reconnects meanwhile.
      Pause(std::chrono::milliseconds(250));
    }
  }
}

bool NatsPublisher::Publish(const Waiting& next) {
  if (!stream_ready_) stream_ready_ = HaveStream();
  if (!stream_ready_) return false;
  jsPubOptions options;
  Nats().jsPubOptions_Init(&options);
  options.MsgId = next.id.empty() ? nullptr : next.id.c_str();
  jsPubAck* acknowledged = nullptr;
  jsErrCode error = static_cast<jsErrCode>(0);
  const natsStatus status =
      Nats().js_Publish(&acknowledged, connection_.JetStream(), next.subject.c_str(),
                        next.json.data(), static_cast<int>(next.json.size()), &options, &error);
  if (acknowledged != nullptr) Nats().jsPubAck_Destroy(acknowledged);
  if (status == NATS_OK) return true;
  if (error == JSStreamNotFoundErr) {
    stream_ready_ = false;  // deleted meanwhile: made again
  } else if (!NatsUnanswered(status)) {
    Trouble("the stream " + settings_.stream + " refused a fix: " + NatsFailureText(status, error));
  }
  return false;
}

void NatsPublisher::Trouble(const std::string& trouble) {
  if (trouble != last_trouble_) Warn(trouble);
  last_trouble_ = trouble;
}

bool NatsPublisher::HaveStream() {
  jsCtx* js = connection_.JetStream();
  jsStreamInfo* info = nullptr;
  jsErrCode error = static_cast<jsErrCode>(0);
  natsStatus status = Nats().js_GetStreamInfo(&info, js, settings_.stream.c_str(), nullptr, &error);
  if (status == NATS_OK) {
    Nats().jsStreamInfo_Destroy(info);
    return true;
  }
  if (error != JSStreamNotFoundErr) return false;  // no answer yet: asked again
  const std::string subjects = SubjectRoot(settings_.prefix) + ".>";
  const char* subject_list[] = {subjects.c_str()};
  jsStreamConfig config;
  Nats().jsStreamConfig_Init(&config);
  config.Name = settings_.stream.c_str();
  config.Subjects = subject_list;
  config.SubjectsLen = 1;
  config.Storage = js_FileStorage;
  config.MaxAge = settings_.max_age.count() * kNanosecondsPerSecond;
  config.Duplicates = kDuplicateWindowSeconds * kNanosecondsPerSecond;
  // Three copies where the cluster has three nodes; one where it has fewer (or is one server).
  for (const int64_t replicas : {3, 1}) {
    config.Replicas = replicas;
    status = Nats().js_AddStream(&info, js, &config, nullptr, &error);
    if (info != nullptr) Nats().jsStreamInfo_Destroy(info);
    info = nullptr;
    if (status == NATS_OK) return true;
    const bool too_few = error == JSInsufficientResourcesErr || error == JSClusterNoPeersErr ||
                         error == JSStreamReplicasNotSupportedErr;
    if (!too_few) break;
  }
  Trouble("cannot make the stream " + settings_.stream + " of " + subjects + ": " +
          NatsFailureText(status, error));
  return false;
}

void NatsPublisher::Warn(const std::string& warning) {
  asio::post(io_, [this, watch = life_.Watch(), warning] {
    if (watch.lock() && warn_) warn_(warning);
  });
}

bool NatsPublisher::Delivering() const {
  // Nothing will go once the servers refused the connection for good.
  if (connection_.GaveUp()) return false;
  std::lock_guard lock(mutex_);
  return !closed_ && !queue_.empty();
}

std::string NatsPublisher::State() const {
  size_t queued = 0;
  uint64_t dropped = 0;
  {
    std::lock_guard lock(mutex_);
    queued = queue_.size();
    dropped = dropped_;
  }
  return "publishing to " + name_ + " (on " + connection_.CurrentServer() + ")" +
         (connection_.Connected() ? ": connected" : ": waiting") + ", " +
         std::to_string(published_.load()) + " messages taken, " + std::to_string(queued) +
         " queued, " + std::to_string(dropped) + " dropped";
}

std::vector<std::string> NatsPublisher::Close() {
  size_t unpublished = 0;
  uint64_t dropped = 0;
  {
    std::lock_guard lock(mutex_);
    if (closed_) return {};
    closed_ = true;
    unpublished = queue_.size();
    dropped = dropped_;
  }
  changed_.notify_all();
  if (worker_.joinable()) worker_.join();
  connection_.Close();
  std::vector<std::string> lost;
  if (dropped > 0) {
    lost.push_back(std::to_string(dropped) +
                   " fixes dropped while the stream was away (--mqtt-queue " +
                   std::to_string(settings_.queue_limit) + ")");
  }
  if (unpublished > 0) {
    lost.push_back(std::to_string(unpublished) + " fixes not published to " + name_);
  }
  return lost;
}

namespace {

MadeSink MakeNatsPublisher(const SinkText& text, const SinkContext& context) {
  text.OnlyOptions({"queue", "stream", "retain", "nmea"});
  auto parsed = ParseNatsPublishAddress(text.scheme + "://" + text.rest);
  if (auto* invalid = std::get_if<std::string>(&parsed)) throw SinkUsageError(*invalid);
  const SourceAddress& address = std::get<SourceAddress>(parsed);
  NatsPublishing settings;
  settings.prefix = address.path;
  const auto queue = ReadStrict(text.Option("queue", "10000"));
  if (!queue || *queue != std::floor(*queue) || *queue < 1 || *queue > 10000000) {
    text.Refuse("the queue must be a number of fixes from 1 to 10000000");
  }
  settings.queue_limit = static_cast<size_t>(*queue);
  settings.stream = text.Option("stream");
  if (settings.stream.find_first_of(".*> ") != std::string::npos) {
    text.Refuse("a stream's name holds no . * > or space");
  }
  if (const std::string retain = text.Option("retain"); !retain.empty()) {
    const auto span = ReadSpan(retain);
    if (!span || *span < std::chrono::minutes(1)) {
      text.Refuse("retain= is a span of a minute or more: 7d, 24h, 90m, 3600s");
    }
    settings.max_age = *span;
  }
  const std::string nmea = text.Option("nmea", "0");
  if (nmea != "0" && nmea != "1") text.Refuse("nmea= is 0 or 1");
  settings.nmea = nmea == "1";
  auto publisher =
      std::make_shared<NatsPublisher>(context.io, NatsServersOf(address), NatsAddressText(address),
                                      std::move(settings), context.streams, context.warn);
  MadeSink made;
  made.output = publisher;
  made.epochs = publisher;
  made.blocks = publisher;
  return made;
}

}  // namespace

void RegisterNatsSinks(SinkFactory& factory) {
  factory.Register("nats",
                   "nats://[USER[:PASSWORD]@]HOST[:PORT][,HOST[:PORT]...]/PREFIX[?queue=N&stream="
                   "NAME&retain=7d&nmea=1] (published to a NATS JetStream stream)",
                   MakeNatsPublisher);
}

}  // namespace quorvane
