#include "mqtt/mosquitto_library.hpp"

namespace quorvane {
namespace {

void Fill(const LoadedLibrary& library, MosquittoLibrary& functions) {
  QGPS_MOSQUITTO_FUNCTIONS(QGPS_FIND_FUNCTION)
}

}  // namespace

const MosquittoLibrary& Mosquitto() {
  return LoadedFunctions<MosquittoLibrary>(QGPS_MOSQUITTO_SONAME, "libmosquitto1", Fill);
}

}  // namespace quorvane
