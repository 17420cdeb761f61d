#include "control/gps_parts.hpp"

#include <algorithm>
#include <stdexcept>

#include <asio/post.hpp>

#include "base/text_rules.hpp"
#include "platform/port_table.hpp"
#include "platform/retry_schedule.hpp"
#include "sources/source_factory.hpp"

namespace quorvane {

GPS::Parts::Parts(asio::io_context& context, Platform& host_platform)
    : io(context),
      platform(host_platform),
      path([this] { return platform.Now(); },
           {.fix_updated =
                [this](FixChanges changes) { events.Raise(&GpsEventSink::FixUpdated, changes); },
            .epoch =
                [this](const quorvane::Fix& fix, const std::string& stream) {
                  events.Raise(&GpsEventSink::Epoch, fix, stream);
                },
            .block = [this](std::string& block) { events.Raise(&GpsEventSink::Stream, block); }}),
      relay(std::make_shared<UdpRelay>(io)),
      recorder(std::make_shared<TrackRecorder>(platform)),
      serial(std::make_shared<SerialSource>(io)) {
  recorder->OnFailure([this](std::string failure) { RaiseError(std::move(failure)); });
  path.Add(std::static_pointer_cast<EpochSink>(recorder));
  path.Add(std::static_pointer_cast<BlockSink>(relay));
}

void GPS::Parts::Open(std::shared_ptr<BlockSource> source) {
  if (running_) Stop();
  source_name.clear();
  path.Single().decoder.Fix().LastGgaText.clear();
  // The source replaced may be the one whose block is being taken (a host opening another
  // source in an event): it is let go of on a later turn of the loop, once it has returned.
  if (source_ && path.Busy()) asio::post(io, [replaced = std::move(source_)] {});
  source_ = std::move(source);
  path.Restart();
  running_ = true;
  if (std::string failure = relay->Prepare(); !failure.empty()) RaiseError(std::move(failure));
  source_->OnEpoch(
      [this](const quorvane::Fix& fix, std::string_view stream) { path.TakeEpoch(fix, stream); });
  try {
    source_->Begin([this, from_network = source_->FromNetwork()](std::string_view block,
                                                                 std::string_view stream) {
      path.Take(std::string(block), stream, from_network);
    });
  } catch (const std::runtime_error& error) {
    RaiseError(error.what());
  }
}

void GPS::Parts::StartSerial() {
  if (running_) return;
  // The port chosen by number is the control's classic one: one that cannot open is an error.
  serial->WaitForDevice(false);
  Open(serial);
  source_name = DevicePathOfPort(serial->PortNumber()).value_or("");
}

void GPS::Parts::OpenAddress(const std::string& address) {
  MadeSource made;
  try {
    made = KnownSources().Make(address, {io, source_settings, serial});
  } catch (const std::runtime_error& error) {
    RaiseError(error.what());
    return;
  }
  WatchLosses(*made.source, made.name);
  Open(std::move(made.source));
  source_name = made.name;
}

void GPS::Parts::WatchLosses(BlockSource& source, const std::string& name) {
  source.OnLost([this, &source, name](const std::string& reason, double seconds, bool first) {
    // A half sentence of a lost connection is never joined with the next one's text.
    path.DropPendingText();
    if (first && source.EverOpen()) {
      RaiseError("Connection to " + name + " lost: " + reason, NoticeKind::kSourceLost);
    }
    if (first && !source.EverOpen()) {
      RaiseError("Cannot connect to " + name + ": " + reason, NoticeKind::kSourceLost);
    }
    std::string what = ReconnectingText(name, seconds);
    events.Raise(&GpsEventSink::Reconnecting, what);
  });
  source.OnRefused([this, name](const std::string& reason) {
    RaiseError("Connection to " + name + " given up: " + reason);
  });
  source.OnWarning([this, name](const std::string& warning) {
    RaiseError(name + ": " + warning, NoticeKind::kWarning);
  });
}

void GPS::Parts::EnumSerialPorts() {
  const std::string list = platform.ListSerialPorts(true);
  if (list.empty()) return;
  std::string_view rest = list;
  for (;;) {
    const size_t comma = rest.find(',');
    if (auto number = ReadLeadingInt16(rest.substr(0, comma))) {
      events.Raise(&GpsEventSink::SerialPort, *number);
    }
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
}

void GPS::Parts::Stop() {
  if (!running_) return;
  if (source_) source_->Close();
  // The cycle under way when the receiver stops is the last one: it is reported now.
  path.Finish();
  running_ = false;
  relay->Close();
}

void GPS::Parts::RaiseError(std::string description, NoticeKind kind) {
  events.Raise(&GpsEventSink::Error, description);
  events.Raise(&GpsEventSink::Notice, description, kind);
}

bool GPS::Parts::OpenSink(const std::string& text) {
  const SinkContext context{
      .io = io,
      .platform = platform,
      .streams = path.Streams(),
      .source = source_name,
      .fleet = source_ ? source_->StreamFilter() : std::string(),
      .replay = source_ && source_->Replays(),
      .failed =
          [this](const std::string& failure) { RaiseError(failure, NoticeKind::kOutputFailed); },
      .warn = [this](const std::string& what) { Warn(what); }};
  try {
    MadeSink made = KnownSinks().Make(text, context);
    if (made.epochs) path.Add(made.epochs);
    if (made.blocks) path.Add(made.blocks);
    if (made.streams) path.Add(made.streams);
    outputs_.push_back(std::move(made));
  } catch (const SinkUsageError& error) {
    RaiseError(error.what(), NoticeKind::kUsage);
    return false;
  } catch (const std::runtime_error& error) {
    RaiseError(error.what());
    return false;
  }
  return true;
}

std::vector<std::string> GPS::Parts::SinkStates() const {
  std::vector<std::string> states;
  for (const MadeSink& made : outputs_) {
    if (std::string state = made.output->State(); !state.empty()) states.push_back(state);
  }
  return states;
}

void GPS::Parts::AwaitSinks(std::chrono::milliseconds most) {
  const auto ready = [this] {
    return std::all_of(outputs_.begin(), outputs_.end(),
                       [](const MadeSink& made) { return made.output->Ready(); });
  };
  const auto deadline = std::chrono::steady_clock::now() + most;
  while (!ready() && std::chrono::steady_clock::now() < deadline && !io.stopped()) {
    io.run_one_for(std::chrono::milliseconds(20));
  }
  io.restart();
}

bool GPS::Parts::Delivering() const {
  return std::any_of(outputs_.begin(), outputs_.end(),
                     [](const MadeSink& made) { return made.output->Delivering(); });
}

void GPS::Parts::ReopenSinkFiles() {
  for (const MadeSink& made : outputs_) made.output->Reopen();
}

void GPS::Parts::CloseSinks(std::chrono::milliseconds most,
                            std::function<void(const std::vector<std::string>&)> done) {
  WaitForDeliveries(std::chrono::steady_clock::now() + most, std::move(done));
}

void GPS::Parts::WaitForDeliveries(std::chrono::steady_clock::time_point deadline,
                                   std::function<void(const std::vector<std::string>&)> done) {
  if (Delivering() && std::chrono::steady_clock::now() < deadline) {
    delivery_wait_.expires_after(std::chrono::milliseconds(20));
    delivery_wait_.async_wait(
        [this, deadline, done = std::move(done)](const std::error_code& error) {
          if (!error) WaitForDeliveries(deadline, done);
        });
    return;
  }
  done(CloseOutputs());
}

std::vector<std::string> GPS::Parts::CloseOutputs() {
  std::vector<std::string> lost;
  for (const MadeSink& made : outputs_) {
    for (std::string& sentence : made.output->Close()) lost.push_back(std::move(sentence));
    if (made.epochs) path.Remove(made.epochs.get());
    if (made.blocks) path.Remove(made.blocks.get());
  }
  outputs_.clear();
  return lost;
}

}  // namespace quorvane
