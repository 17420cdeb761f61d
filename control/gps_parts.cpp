#include "control/gps_parts.hpp"

#include <stdexcept>

#include <asio/post.hpp>

#include "base/text_rules.hpp"
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
  path.Single().decoder.Fix().LastGgaText.clear();
  // The source replaced may be the one whose block is being taken (a host opening another
  // source in an event): it is let go of on a later turn of the loop, once it has returned.
  if (source_ && path.Busy()) asio::post(io, [replaced = std::move(source_)] {});
  source_ = std::move(source);
  path.Restart();
  running_ = true;
  if (std::string failure = relay->Prepare(); !failure.empty()) RaiseError(std::move(failure));
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
  if (!running_) Open(serial);
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
}

void GPS::Parts::WatchLosses(BlockSource& source, const std::string& name) {
  source.OnLost([this, &source, name](const std::string& reason, double seconds, bool first) {
    // A half sentence of a lost connection is never joined with the next one's text.
    path.DropPendingText();
    if (first && source.EverOpen()) RaiseError("Connection to " + name + " lost: " + reason);
    if (first && !source.EverOpen()) RaiseError("Cannot connect to " + name + ": " + reason);
    std::string what = ReconnectingText(name, seconds);
    events.Raise(&GpsEventSink::Reconnecting, what);
  });
  source.OnRefused([this, name](const std::string& reason) {
    RaiseError("Connection to " + name + " given up: " + reason);
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

}  // namespace quorvane
