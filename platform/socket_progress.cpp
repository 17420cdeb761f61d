#include "platform/socket_progress.hpp"

// The kernel's own tcp_info: the C library's lacks the byte counts.
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstddef>

namespace quorvane {

std::optional<uint64_t> BytesAcknowledged(int descriptor) {
  tcp_info info{};
  socklen_t size = sizeof info;
  if (::getsockopt(descriptor, IPPROTO_TCP, TCP_INFO, &info, &size) != 0 ||
      size < offsetof(tcp_info, tcpi_bytes_acked) + sizeof info.tcpi_bytes_acked) {
    return std::nullopt;
  }
  return info.tcpi_bytes_acked;
}

}  // namespace quorvane
