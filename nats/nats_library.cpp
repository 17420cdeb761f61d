#include "nats/nats_library.hpp"

#include "platform/loaded_library.hpp"

namespace quorvane {
namespace {

NatsLibrary Load() {
  // Never unloaded: its threads live as long as the process.
  static const LoadedLibrary library(QGPS_NATS_SONAME, "libnats3.4");
  NatsLibrary functions;
#define QGPS_NATS_FIND(name) \
  functions.name = reinterpret_cast<decltype(functions.name)>(library.Function(#name));
  QGPS_NATS_FUNCTIONS(QGPS_NATS_FIND)
#undef QGPS_NATS_FIND
  return functions;
}

}  // namespace

const NatsLibrary& Nats() {
  // A throwing first try leaves it unmade, and the next call tries again.
  static const NatsLibrary functions = Load();
  return functions;
}

}  // namespace quorvane
