#pragma once
// libnats, loaded when NATS is first used: a run that speaks no NATS never loads it, nor the
// OpenSSL it brings (see platform/loaded_library.hpp). Call its functions through Nats():
// Nats().natsConnection_Connect(...).

#include <nats/nats.h>

#include "platform/loaded_library.hpp"

namespace quorvane {

// Every function of libnats this project calls.
// clang-format off
#define QGPS_NATS_FUNCTIONS(X) \
  X(jsConsumerInfo_Destroy) \
  X(jsCtx_Destroy) \
  X(jsOptions_Init) \
  X(jsPubAck_Destroy) \
  X(jsPubOptions_Init) \
  X(jsStreamConfig_Init) \
  X(jsStreamInfo_Destroy) \
  X(jsSubOptions_Init) \
  X(js_AddStream) \
  X(js_DeleteConsumer) \
  X(js_GetConsumerInfo) \
  X(js_GetStreamInfo) \
  X(js_Publish) \
  X(js_PullSubscribe) \
  X(natsConnection_Close) \
  X(natsConnection_Connect) \
  X(natsConnection_Destroy) \
  X(natsConnection_GetConnectedUrl) \
  X(natsConnection_GetLastError) \
  X(natsConnection_JetStream) \
  X(natsConnection_Publish) \
  X(natsMsgList_Destroy) \
  X(natsMsg_AckSync) \
  X(natsMsg_GetData) \
  X(natsMsg_GetDataLength) \
  X(natsMsg_GetSubject) \
  X(natsOptions_Create) \
  X(natsOptions_Destroy) \
  X(natsOptions_SetClosedCB) \
  X(natsOptions_SetDisconnectedCB) \
  X(natsOptions_SetMaxReconnect) \
  X(natsOptions_SetName) \
  X(natsOptions_SetNoRandomize) \
  X(natsOptions_SetPingInterval) \
  X(natsOptions_SetReconnectWait) \
  X(natsOptions_SetReconnectedCB) \
  X(natsOptions_SetRetryOnFailedConnect) \
  X(natsOptions_SetServers) \
  X(natsOptions_SetTimeout) \
  X(natsOptions_SetUserInfo) \
  X(natsStatus_GetText) \
  X(natsSubscription_Destroy) \
  X(natsSubscription_Fetch) \
  X(nats_GetLastError)
// clang-format on

struct NatsLibrary {
  QGPS_NATS_FUNCTIONS(QGPS_FUNCTION_POINTER)
};

// The library's functions, loaded on the first call (from any thread). Throws
// std::runtime_error saying what is missing when it cannot be loaded; a later call tries again.
const NatsLibrary& Nats();

}  // namespace quorvane
