#include "nats/nats_library.hpp"

namespace quorvane {
namespace {

void Fill(const LoadedLibrary& library, NatsLibrary& functions) {
  QGPS_NATS_FUNCTIONS(QGPS_FIND_FUNCTION)
}

}  // namespace

const NatsLibrary& Nats() {
  return LoadedFunctions<NatsLibrary>(QGPS_NATS_SONAME, "libnats3.4", Fill);
}

}  // namespace quorvane
