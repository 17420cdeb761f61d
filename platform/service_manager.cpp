#include "platform/service_manager.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/systemd_library.hpp"

namespace quorvane {
namespace {

// Whether a service manager started this program: it leaves one of these in the environment
// (sockets, the notification socket, the watchdog). Only then is libsystemd loaded.
bool StartedByServiceManager() {
  for (const char* name : {"LISTEN_PID", "LISTEN_FDS", "LISTEN_FDNAMES", "NOTIFY_SOCKET",
                           "WATCHDOG_USEC", "WATCHDOG_PID"}) {
    if (std::getenv(name) != nullptr) return true;
  }
  return false;
}

// JOURNAL_STREAM names the journal's stream as "DEVICE:INODE": a descriptor that is it writes
// to the journal (and not to where the service's output was sent on instead).
bool WritesToTheJournal(int descriptor) {
  const char* stream = std::getenv("JOURNAL_STREAM");
  struct stat status {};
  if (stream == nullptr || ::fstat(descriptor, &status) != 0) return false;
  return std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino) == stream;
}

}  // namespace

ServiceManager::ServiceManager(std::string program)
    : program_(std::move(program)),
      systemd_(StartedByServiceManager() ? &Systemd() : nullptr),
      journal_(WritesToTheJournal(STDERR_FILENO)) {
  if (systemd_ == nullptr) return;
  char** names = nullptr;
  const int count = systemd_->sd_listen_fds_with_names(/*unset_environment=*/1, &names);
  for (int i = 0; i < count; ++i) {
    const std::string name = names != nullptr && names[i] != nullptr ? names[i] : "unknown";
    sockets_[count == 1 && name == "unknown" ? "gpsd" : name] = SD_LISTEN_FDS_START + i;
  }
  if (names != nullptr) {
    for (int i = 0; i < count; ++i) std::free(names[i]);
    std::free(names);
  }
  uint64_t interval = 0;
  if (systemd_->sd_watchdog_enabled(/*unset_environment=*/0, &interval) > 0) {
    watchdog_ = std::chrono::microseconds(interval);
  }
}

int ServiceManager::Socket(const std::string& name) const {
  const auto found = sockets_.find(name);
  return found == sockets_.end() ? -1 : found->second;
}

void ServiceManager::Ready(const std::string& status) const {
  Notify("READY=1\nSTATUS=" + status);
}

void ServiceManager::Alive() {
  if (watchdog_.count() == 0) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - last_ping_ < watchdog_ / 2) return;
  last_ping_ = now;
  Notify("WATCHDOG=1");
}

void ServiceManager::Stopping() const {
  Notify("STOPPING=1");
}

void ServiceManager::Notify(const std::string& state) const {
  if (systemd_ != nullptr) systemd_->sd_notify(/*unset_environment=*/0, state.c_str());
}

std::string ServiceManager::Line(Priority priority, const std::string& text) const {
  std::string line;
  if (journal_) {
    line += '<';
    line += static_cast<char>('0' + static_cast<int>(priority));
    line += '>';
  }
  line += program_;
  line += ": ";
  line += text;
  line += '\n';
  return line;
}

}  // namespace quorvane
