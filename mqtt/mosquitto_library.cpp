#include "mqtt/mosquitto_library.hpp"

#include "platform/loaded_library.hpp"

namespace quorvane {
namespace {

MosquittoLibrary Load() {
  static const LoadedLibrary library(QGPS_MOSQUITTO_SONAME, "libmosquitto1");
  MosquittoLibrary functions;
#define QGPS_MOSQUITTO_FIND(name) \
  functions.name = reinterpret_cast<decltype(functions.name)>(library.Function(#name));
  QGPS_MOSQUITTO_FUNCTIONS(QGPS_MOSQUITTO_FIND)
#undef QGPS_MOSQUITTO_FIND
  return functions;
}

}  // namespace

const MosquittoLibrary& Mosquitto() {
  // A throwing first try leaves it unmade, and the next call tries again.
  static const MosquittoLibrary functions = Load();
  return functions;
}

}  // namespace quorvane
