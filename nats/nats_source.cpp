#include "nats/nats_source.hpp"

#include <unistd.h>

#include <algorithm>
#include <random>
#include <stdexcept>

#include <asio/post.hpp>
#include "nats/nats_library.hpp"

#include "base/text_rules.hpp"
#include "sources/tpv_fix.hpp"

namespace quorvane {
namespace {

constexpr int64_t kNanosecondsPerMillisecond = 1000000;
// How long the server waits for a batch's acknowledgement before it delivers it again.
constexpr int64_t kAckWaitMilliseconds = 30000;
// A consumer of this run's own is forgotten by the server this long after the run left it.
constexpr int64_t kOwnConsumerLingersMilliseconds = 60000;

int64_t NanosecondsSinceEpoch(std::chrono::system_clock::time_point time) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(time.time_since_epoch()).count();
}

std::string OwnConsumerName() {
  std::random_device random;
  return "gps-monitor-" + std::to_string(::getpid()) + "-" + std::to_string(random() % 1000000);
}

// "fleet.car7.fix", or one of its partitions as the server's subject mapping numbers them
// ("fleet.car7.fix.3").
bool IsFixSubject(std::string_view subject) {
  if (subject.ends_with(".fix")) return true;
  const size_t last = subject.rfind('.');
  const std::string_view partition = subject.substr(last + 1);
  return last != std::string_view::npos && !partition.empty() &&
         partition.find_first_not_of("0123456789") == std::string_view::npos &&
         subject.substr(0, last).ends_with(".fix");
}

}  // namespace

std::optional<std::chrono::system_clock::time_point> SinceTime(
    std::string_view text, std::chrono::system_clock::time_point now) {
  // A span back, at most ten years.
  if (text.starts_with('-')) {
    const auto span = ReadSpan(text.substr(1));
    if (!span || *span > std::chrono::hours(24 * 3650)) return std::nullopt;
    return now - *span;
  }
  CalendarDate date;
  UtcTime time;
  if (!ReadIsoTime(text, date, time)) return std::nullopt;
  Fix fix;
  fix.date = date;
  fix.time = time;
  return UtcTimePoint(fix);
}

NatsSource::NatsSource(asio::io_context& io, NatsServers servers, std::string filter,
                       NatsConsumerSettings settings)
    : io_(io),
      connection_(io, std::move(servers), "gps-monitor consumer"),
      filter_(std::move(filter)),
      settings_(std::move(settings)),
      own_consumer_(settings_.durable.empty()) {
  if (settings_.stream.empty()) settings_.stream = SubjectRoot(filter_);
  if (own_consumer_) settings_.durable = OwnConsumerName();
}

NatsSource::~NatsSource() {
  Close();
}

void NatsSource::Begin(BlockHandler) {
  connection_.on_lost = [this](const std::string& reason) { ReportLost(reason, 0.25, true); };
  connection_.on_refused = [this](const std::string& reason) { ReportRefused(reason); };
  connection_.Start();
  worker_ = std::thread([this] { Work(); });
}

void NatsSource::Close() {
  {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    closed_ = true;
  }
  changed_.notify_all();
  if (worker_.joinable()) worker_.join();
  if (subscription_ != nullptr) Nats().natsSubscription_Destroy(subscription_);
  subscription_ = nullptr;
  connection_.Close();
}

bool NatsSource::Pause(std::chrono::milliseconds span) {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, span, [this] { return closed_; });
  return !closed_;
}

void NatsSource::Work() {
  while (Pause(std::chrono::milliseconds(0))) {
    if (subscription_ == nullptr && !Subscribe()) {
      Pause(std::chrono::milliseconds(500));
      continue;
    }
    natsMsgList list{};
    jsErrCode error = static_cast<jsErrCode>(0);
    const natsStatus status =
        Nats().natsSubscription_Fetch(&list, subscription_, kBatch, kFetchMilliseconds, &error);
    if (status == NATS_TIMEOUT) continue;
    if (status != NATS_OK) {
      // The consumer may have moved with its node, or be gone: it is found again. Deliveries
      // the server made to a fetch that never came are taken up from the acknowledged floor.
      Nats().natsSubscription_Destroy(subscription_);
      subscription_ = nullptr;
      Pause(std::chrono::milliseconds(250));
      continue;
    }
    std::vector<Message> batch;
    for (int i = 0; i < list.Count; ++i) {
      const natsMsg* message = list.Msgs[i];
      batch.push_back({Nats().natsMsg_GetSubject(message),
                       std::string(Nats().natsMsg_GetData(message),
                                   static_cast<size_t>(Nats().natsMsg_GetDataLength(message)))});
    }
    // Every message up to the batch's last is acknowledged at once, once the loop took them.
    if (HandToLoop(std::move(batch)) && list.Count > 0) {
      Nats().natsMsg_AckSync(list.Msgs[list.Count - 1], nullptr, nullptr);
    }
    Nats().natsMsgList_Destroy(&list);
  }
}

bool NatsSource::Subscribe() {
  jsCtx* js = connection_.JetStream();
  jsSubOptions options;
  Nats().jsSubOptions_Init(&options);
  options.Stream = settings_.stream.c_str();
  jsConsumerInfo* found = nullptr;
  jsErrCode error = static_cast<jsErrCode>(0);
  natsStatus status = Nats().js_GetConsumerInfo(&found, js, settings_.stream.c_str(),
                                                settings_.durable.c_str(), nullptr, &error);
  if (status != NATS_OK && error != JSConsumerNotFoundErr) {
    if (error == JSStreamNotFoundErr) Warn("no stream " + settings_.stream + " (yet)", "stream");
    return false;
  }
  options.Config.Durable = settings_.durable.c_str();
  options.Config.AckPolicy = js_AckAll;
  options.Config.AckWait = kAckWaitMilliseconds * kNanosecondsPerMillisecond;
  options.Config.MaxAckPending = kBatch;
  if (own_consumer_)
    options.Config.InactiveThreshold = kOwnConsumerLingersMilliseconds * kNanosecondsPerMillisecond;
  if (settings_.since) {
    options.Config.DeliverPolicy = js_DeliverByStartTime;
    options.Config.OptStartTime = NanosecondsSinceEpoch(*settings_.since);
  }
  if (found != nullptr) {
    const uint64_t floor = found->AckFloor.Stream;
    const bool unacknowledged = found->NumAckPending > 0;
    Nats().jsConsumerInfo_Destroy(found);
    if (!unacknowledged) {
      options.Consumer = settings_.durable.c_str();
    } else {
      // Deliveries that were never acknowledged (a run killed mid-batch, a fetch lost with its
      // node) would come again only after newer ones: the consumer is made again from its
      // floor, so that every vehicle's epochs keep their order.
      Nats().js_DeleteConsumer(js, settings_.stream.c_str(), settings_.durable.c_str(), nullptr,
                               nullptr);
      options.Config.DeliverPolicy = js_DeliverByStartSequence;
      options.Config.OptStartSeq = floor + 1;
      options.Config.OptStartTime = 0;
    }
  }
  status = Nats().js_PullSubscribe(&subscription_, js, filter_.c_str(), settings_.durable.c_str(),
                                   nullptr, &options, &error);
  if (status != NATS_OK) {
    subscription_ = nullptr;
    if (error == JSStreamNotFoundErr) {
      Warn("no stream " + settings_.stream + " (yet)", "stream");
    } else if (!NatsUnanswered(status)) {
      const std::string why = NatsFailureText(status, error);
      Warn("cannot consume " + filter_ + " as " + settings_.durable + ": " + why, why);
    }
    return false;
  }
  return true;
}

bool NatsSource::HandToLoop(std::vector<Message> batch) {
  {
    std::lock_guard lock(mutex_);
    batch_taken_ = false;
  }
  asio::post(io_, [this, watch = life_.Watch(), batch = std::move(batch)] {
    if (!watch.lock()) return;
    {
      std::lock_guard lock(mutex_);
      if (closed_) return;
    }
    for (const Message& message : batch) Take(message);
    {
      std::lock_guard lock(mutex_);
      batch_taken_ = true;
    }
    changed_.notify_all();
  });
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return batch_taken_ || closed_; });
  return batch_taken_;
}

void NatsSource::Take(const Message& message) {
  const std::string vehicle = TokenMatched(filter_, message.subject);
  // A vehicle's satellites, or anything else under the filter, are no epochs here.
  if (!IsFixSubject(message.subject)) return;
  ReadTpv read = FixOfTpv(message.data);
  if (!read.fix) {
    ReportWarningOnce("a message on " + message.subject + " skipped: " + read.fault, read.fault);
    return;
  }
  if (latest_.IsNew(vehicle, *read.fix)) HandEpoch(*read.fix, vehicle);
}

void NatsSource::Warn(std::string warning, std::string kind) {
  asio::post(io_,
             [this, watch = life_.Watch(), warning = std::move(warning), kind = std::move(kind)] {
               if (watch.lock()) ReportWarningOnce(warning, kind);
             });
}

void RegisterNatsSources(SourceFactory& factory) {
  factory.Register(NatsSchemes());
  factory.Register(SourceAddress::Scheme::kNats, [](const SourceAddress& address,
                                                    const std::string&,
                                                    const SourceContext& context) {
    const std::string name = NatsAddressText(address);
    NatsConsumerSettings settings;
    for (const std::string_view option : Pieces(address.options, '&')) {
      if (option.empty()) continue;
      const size_t equals = option.find('=');
      const std::string_view key = option.substr(0, equals);
      const std::string value(equals == std::string_view::npos ? "" : option.substr(equals + 1));
      if (key == "durable" && !value.empty() && SubjectFault(value, false).empty() &&
          value.find('.') == std::string::npos) {
        settings.durable = value;
      } else if (key == "stream" && !value.empty() &&
                 value.find_first_of(".*> ") == std::string::npos) {
        settings.stream = value;
      } else if (key == "since" && SinceTime(value, std::chrono::system_clock::now())) {
        settings.since = SinceTime(value, std::chrono::system_clock::now());
      } else {
        throw std::runtime_error(
            "Cannot use " + name + ": \"" + std::string(option) +
            "\" is no option of a NATS source (durable=NAME, stream=NAME, since=-1h or "
            "since=2026-12-08T08:00:00Z)");
      }
    }
    return MadeSource{std::make_shared<NatsSource>(context.io, NatsServersOf(address), address.path,
                                                   std::move(settings)),
                      name};
  });
}

}  // namespace quorvane
