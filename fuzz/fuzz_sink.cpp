// A C host's event sink doing what careless hosts do, driven by the input: keep the Stream
// argument, clear it, point it at a text of its own, write into it, or destroy the control in
// the middle of the event. The blocks come as UDP datagrams on 127.0.0.1, through the C
// interface alone. Checked: no crash, no sanitizer report, no leak.

#include <fuzzer/FuzzedDataProvider.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "control/qgps.h"

namespace {

// A port of the loopback interface that the controls bind, one after another.
uint16_t ListeningPort() {
  static const uint16_t port = [] {
    const int probe = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(probe);
    return ntohs(address.sin_port);
  }();
  return port;
}

struct Host {
  FuzzedDataProvider* input;
  qgps_control* control;
  std::string own_text;
  int events = 0;

  static void Callback(void* context, int32_t, qgps_variant* args, int nargs) {
    auto* host = static_cast<Host*>(context);
    ++host->events;
    if (nargs != 1 || host->control == nullptr) return;
    switch (host->input->ConsumeIntegralInRange<int>(0, 4)) {
      case 0:
        break;
      case 1:
        qgps_variant_clear(&args[0]);
        break;
      case 2:
        host->own_text = host->input->ConsumeRandomLengthString(64);
        args[0].vt = QGPS_VT_STRING;
        args[0].str = host->own_text.data();
        break;
      case 3:
        if (args[0].vt == QGPS_VT_STRING && args[0].str != nullptr && args[0].str[0] != '\0') {
          args[0].str[0] = 'x';
        }
        break;
      case 4:
        qgps_destroy(host->control);
        host->control = nullptr;
        break;
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  Host host{&input, qgps_create(), {}, 0};
  qgps_advise(host.control, &Host::Callback, &host);
  if (input.ConsumeBool()) qgps_advise(host.control, &Host::Callback, &host);  // two sinks
  qgps_variant port{QGPS_VT_I2, static_cast<int16_t>(ListeningPort()), 0, 0, nullptr};
  qgps_invoke(host.control, qgps_id_of_name("Connect"), QGPS_METHOD, &port, 1, nullptr);

  const int sender = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  to.sin_port = htons(ListeningPort());
  int sent = 0;
  for (int i = 0; i < 4 && input.remaining_bytes() > 0; ++i) {
    const std::string block = input.ConsumeRandomLengthString(512);
    if (::sendto(sender, block.data(), block.size(), 0, reinterpret_cast<sockaddr*>(&to),
                 sizeof to) >= 0) {
      ++sent;
    }
  }
  ::close(sender);
  for (int round = 0; round < 50 && host.control != nullptr && host.events < sent; ++round) {
    qgps_pump(host.control, 1);
  }
  qgps_destroy(host.control);
  return 0;
}
