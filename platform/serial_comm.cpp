#include "platform/serial_comm.hpp"

#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include <asio/write.hpp>

#include "platform/port_table.hpp"

namespace quorvane {
namespace {

std::string BusyText(const std::string& device) {
  return "Serial port " + device + " is already in use by another program";
}

std::string OpenFailureText(const std::string& device, int error_number) {
  if (error_number == EBUSY || error_number == EWOULDBLOCK) return BusyText(device);
  return "Cannot open serial port " + device + ": " + std::generic_category().message(error_number);
}

void ApplyParity(int fd, char parity) {
  termios line{};
  if (::tcgetattr(fd, &line) != 0) throw std::system_error(errno, std::generic_category());
  StoreParity(parity, line);
  if (::tcsetattr(fd, TCSANOW, &line) != 0) {
    throw std::system_error(errno, std::generic_category());
  }
}

}  // namespace

SerialComm::SerialComm(asio::io_context& io) : port_(io) {}

SerialComm::~SerialComm() {
  ClosePort();
}

void SerialComm::CommPort(int16_t number) {
  if (port_.is_open()) throw SerialError("Port already open: close it before changing the port");
  auto device = DevicePathOfPort(number);
  if (!device) {
    number_ = 0;
    device_.clear();
    throw SerialError("Invalid port number");
  }
  number_ = number;
  device_ = std::move(*device);
}

void SerialComm::Settings(const std::string& text) {
  const auto settings = ParseLineSettings(text);
  if (!settings) {
    throw SerialError("Invalid settings \"" + text +
                      "\": expected baud,parity,data bits,stop bits such as 4800,n,8,1");
  }
  if (port_.is_open()) {
    try {
      ApplySettings(*settings);
    } catch (const std::system_error& error) {
      RestoreSettings();
      throw SerialError("Serial port " + device_ + " refused settings " + ToText(*settings) + ": " +
                        error.code().message());
    }
  }
  settings_ = *settings;
}

void SerialComm::ApplySettings(const LineSettings& settings) {
  port_.set_option(asio::serial_port::baud_rate(settings.baud));
  port_.set_option(asio::serial_port::character_size(settings.data_bits));
  port_.set_option(asio::serial_port::stop_bits(settings.stop_bits == 2
                                                    ? asio::serial_port::stop_bits::two
                                                    : asio::serial_port::stop_bits::one));
  // asio knows no mark or space parity, so parity is set here for all five.
  ApplyParity(port_.native_handle(), settings.parity);
}

void SerialComm::RestoreSettings() {
  try {
    ApplySettings(settings_);
  } catch (const std::system_error&) {
    // The port keeps whatever part of the refused settings it took; nothing more can be done.
  }
}

void SerialComm::PortOpen(bool open) {
  if (!open) {
    ClosePort();
    return;
  }
  if (port_.is_open()) throw SerialError("Port already open");
  if (device_.empty()) throw SerialError("Invalid port number");

  std::error_code error;
  port_.open(device_, error);
  if (error) throw SerialError(OpenFailureText(device_, error.value()));
  // TIOCEXCL keeps out other openers, except root; the advisory lock keeps out everyone who
  // asks for it, root included.
  const int fd = port_.native_handle();
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int lock_error = errno;
    port_.close(error);
    throw SerialError(OpenFailureText(device_, lock_error));
  }
  ::ioctl(fd, TIOCEXCL);
  try {
    ApplySettings(settings_);
  } catch (const std::system_error& failure) {
    ClosePort();
    throw SerialError("Serial port " + device_ + " refused settings " + ToText(settings_) + ": " +
                      failure.code().message());
  }
  comm_event_ = 0;
  ++opening_;
  ReadNext();
}

void SerialComm::ClosePort() {
  if (!port_.is_open()) return;
  ++opening_;
  ::ioctl(port_.native_handle(), TIOCNXCL);
  std::error_code ignored;
  port_.close(ignored);
}

void SerialComm::ReadNext() {
  port_.async_read_some(asio::buffer(read_buffer_),
                        [this, alive = alive_.Watch(), opening = opening_](
                            const std::error_code& error, size_t length) {
                          if (alive.expired() || opening != opening_) return;
                          if (error) {
                            // The device went away (a USB receiver unplugged, the far end of a
                            // pseudo-terminal closed): stop reading it rather than spin on the
                            // error.
                            if (error == asio::error::operation_aborted) return;
                            ClosePort();
                            if (on_gone_) on_gone_(error.message());
                            return;
                          }
                          comm_event_ = comEvReceive;
                          if (on_comm_) on_comm_({read_buffer_.data(), length});
                          if (alive.expired()) return;
                          if (port_.is_open() && opening == opening_) ReadNext();
                        });
}

void SerialComm::Output(std::string_view data) {
  if (!port_.is_open()) throw SerialError("Port is not open");
  std::error_code error;
  asio::write(port_, asio::buffer(data.data(), data.size()), error);
  if (error) throw SerialError("Cannot write to serial port " + device_ + ": " + error.message());
}

}  // namespace quorvane
