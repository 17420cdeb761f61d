#include "nats/nats_library.hpp"

#include "platform/loaded_library.hpp"

namespace quorvane {
namespace {

void Fill(const LoadedLibrary& library, NatsLibrary& functions) {
#define QGPS_NATS_FIND(name) \
  functions.name = reinterpret_cast<decltype(functions.name)>(library.Function(#name));
  QGPS_NATS_FUNCTIONS(QGPS_NATS_FIND)
#undef QGPS_NATS_FIND
}

}  // namespace

const NatsLibrary& Nats() {
  return LoadedFunctions<NatsLibrary>(QGPS_NATS_SONAME, "libnats3.4", Fill);
}

}  // namespace quorvane
