#include "sources/serial_source.hpp"

#include "platform/port_table.hpp"
#include "sources/source_factory.hpp"

namespace quorvane {

void SerialSource::Settings(const std::string& text) {
  try {
    port_.Settings(text);
  } catch (const SerialError&) {
  }
}

void SerialSource::Begin(BlockHandler on_block) {
  closed_ = false;
  ever_open_ = false;
  port_.OnComm([this, on_block = std::move(on_block)](std::string_view received) {
    if (port_.CommEvent() == SerialComm::comEvReceive) on_block(received, {});
  });
  port_.OnGone([this](const std::string& reason) {
    if (waits_ && !closed_) Lose("the device went away (" + reason + ")");
  });
  if (waits_) {
    TryOpen();
    return;
  }
  OpenPort();
  ever_open_ = true;
}

void SerialSource::Close() {
  closed_ = true;
  retry_.Cancel();
  port_.PortOpen(false);
}

void SerialSource::OpenPort() {
  // Both steps are tried; the later failure is the one said.
  std::string failure;
  try {
    port_.CommPort(number_);
  } catch (const SerialError& error) {
    failure = error.what();
  }
  try {
    port_.PortOpen(true);
  } catch (const SerialError& error) {
    failure = error.what();
  }
  if (!failure.empty()) throw SerialError(failure);
}

void SerialSource::TryOpen() {
  try {
    OpenPort();
  } catch (const SerialError& error) {
    Lose(error.what());
    return;
  }
  ever_open_ = true;
  retry_.Connected();
}

void SerialSource::Lose(const std::string& reason) {
  const auto next = retry_.Schedule([this, alive = alive_.Watch()] {
    if (!alive.expired() && !closed_) TryOpen();
  });
  ReportLost(reason, next.seconds, next.first_of_loss);
}

void SerialSource::Send(std::string_view text) {
  try {
    port_.Output(text);
  } catch (const SerialError&) {
  }
}

void RegisterSerialSources(SourceFactory& factory) {
  factory.Register(
      SourceAddress::Scheme::kSerial,
      [](const SourceAddress& address, const std::string& text, const SourceContext& context) {
        SerialSource& serial = *context.serial;
        // The port being read, if any, is let go before its settings change.
        serial.Close();
        serial.WaitForDevice(true);
        if (!address.settings.empty()) serial.Settings(address.settings);
        serial.PortNumber(PortNumberOfDevice(address.path).value_or(0));
        if (serial.PortNumber() == 0) serial.PortNumber(AssignFreePortNumber(address.path));
        return MadeSource{context.serial, text};
      });
}

}  // namespace quorvane
