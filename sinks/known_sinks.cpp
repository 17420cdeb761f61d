#include "sinks/sink_factory.hpp"

namespace quorvane {

const SinkFactory& KnownSinks() {
  static const SinkFactory factory = [] {
    SinkFactory made;
    RegisterKmlSinks(made);
    RegisterGpxSinks(made);
    RegisterGeoJsonSinks(made);
    RegisterCsvSinks(made);
    RegisterNmeaLogSinks(made);
    RegisterFleetSinks(made);
    RegisterRelaySinks(made);
    RegisterNmeaServerSinks(made);
    RegisterGpsdSinks(made);
    RegisterWebMapSinks(made);
    RegisterTimeSinks(made);
    RegisterJsonSinks(made);
    RegisterTextSinks(made);
    RegisterMqttSinks(made);
    RegisterNatsSinks(made);
    return made;
  }();
  return factory;
}

}  // namespace quorvane
