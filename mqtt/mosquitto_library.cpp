#include "mqtt/mosquitto_library.hpp"

#include "platform/loaded_library.hpp"

namespace quorvane {
namespace {

void Fill(const LoadedLibrary& library, MosquittoLibrary& functions) {
#define QGPS_MOSQUITTO_FIND(name) \
  functions.name = reinterpret_cast<decltype(functions.name)>(library.Function(#name));
  QGPS_MOSQUITTO_FUNCTIONS(QGPS_MOSQUITTO_FIND)
#undef QGPS_MOSQUITTO_FIND
}

}  // namespace

const MosquittoLibrary& Mosquitto() {
  return LoadedFunctions<MosquittoLibrary>(QGPS_MOSQUITTO_SONAME, "libmosquitto1", Fill);
}

}  // namespace quorvane
