#pragma once
// libmosquitto, loaded when MQTT is first used: a run that speaks no MQTT never loads it, nor
// the OpenSSL it brings (see platform/loaded_library.hpp). Call its functions through
// Mosquitto(): Mosquitto().mosquitto_new(...).

#include <mosquitto.h>

#include "platform/loaded_library.hpp"

namespace quorvane {

// Every function of libmosquitto this project calls.
// clang-format off
#define QGPS_MOSQUITTO_FUNCTIONS(X) \
  X(mosquitto_connack_string) \
  X(mosquitto_connect_async) \
  X(mosquitto_connect_callback_set) \
  X(mosquitto_destroy) \
  X(mosquitto_disconnect) \
  X(mosquitto_disconnect_callback_set) \
  X(mosquitto_int_option) \
  X(mosquitto_lib_init) \
  X(mosquitto_log_callback_set) \
  X(mosquitto_loop_misc) \
  X(mosquitto_loop_read) \
  X(mosquitto_loop_write) \
  X(mosquitto_max_inflight_messages_set) \
  X(mosquitto_message_callback_set) \
  X(mosquitto_new) \
  X(mosquitto_publish) \
  X(mosquitto_publish_callback_set) \
  X(mosquitto_socket) \
  X(mosquitto_strerror) \
  X(mosquitto_subscribe) \
  X(mosquitto_subscribe_callback_set) \
  X(mosquitto_tls_set) \
  X(mosquitto_username_pw_set) \
  X(mosquitto_want_write) \
  X(mosquitto_will_set)
// clang-format on

struct MosquittoLibrary {
  QGPS_MOSQUITTO_FUNCTIONS(QGPS_FUNCTION_POINTER)
};

// The library's functions, loaded on the first call (from any thread). Throws
// std::runtime_error saying what is missing when it cannot be loaded; a later call tries again.
const MosquittoLibrary& Mosquitto();

}  // namespace quorvane
