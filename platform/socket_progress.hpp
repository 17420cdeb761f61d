#pragma once
// How far a TCP peer has read: what a server's queues cannot tell when a library holds the text
// it is writing.

#include <cstdint>
#include <optional>

namespace quorvane {

// The bytes the peer of a connected TCP socket has acknowledged since it connected; nothing when
// the kernel cannot say.
std::optional<uint64_t> BytesAcknowledged(int descriptor);

}  // namespace quorvane
