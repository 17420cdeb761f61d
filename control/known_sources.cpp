#include "mqtt/mqtt_source.hpp"
#include "nats/nats_source.hpp"
#include "sources/source_factory.hpp"

namespace quorvane {

const SourceFactory& KnownSources() {
  static const SourceFactory factory = [] {
    SourceFactory made;
    RegisterSerialSources(made);
    RegisterUdpSources(made);
    RegisterTcpSources(made);
    RegisterLogSources(made);
    RegisterMqttSources(made);
    RegisterNatsSources(made);
    return made;
  }();
  return factory;
}

}  // namespace quorvane
