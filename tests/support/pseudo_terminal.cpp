#include "support/pseudo_terminal.hpp"

#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <array>
#include <stdexcept>
#include <system_error>

#include "platform/port_table.hpp"

namespace quorvane::testing {

PseudoTerminal::PseudoTerminal() {
  std::array<char, 128> name{};
  if (::openpty(&master_, &slave_, name.data(), nullptr, nullptr) != 0) {
    throw std::system_error(errno, std::generic_category(), "openpty");
  }
  slave_path_ = name.data();
}

PseudoTerminal::~PseudoTerminal() {
  if (assigned_ != 0) AssignPort(assigned_, "");
  CloseMaster();
  ::close(slave_);
}

int16_t PseudoTerminal::AssignTo(int16_t number) {
  AssignPort(number, slave_path_);
  assigned_ = number;
  return number;
}

void PseudoTerminal::Write(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(master_, bytes.data(), bytes.size());
    if (written < 0) throw std::system_error(errno, std::generic_category(), "write to pty");
    bytes.remove_prefix(static_cast<size_t>(written));
  }
}

std::string PseudoTerminal::Read(std::chrono::milliseconds wait) {
  std::string received;
  pollfd ready{master_, POLLIN, 0};
  while (::poll(&ready, 1, static_cast<int>(wait.count())) > 0 && (ready.revents & POLLIN)) {
    std::array<char, 4096> buffer{};
    const ssize_t length = ::read(master_, buffer.data(), buffer.size());
    if (length <= 0) break;
    received.append(buffer.data(), static_cast<size_t>(length));
  }
  return received;
}

void PseudoTerminal::CloseMaster() {
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

}  // namespace quorvane::testing
