// The smallest C++ host: one control on the host's own io_context, fed over UDP by this same
// program, printing the fix it decoded, and the receiver's reporting cycle as gpsd's TPV (taken
// by an output of the host's own, added to the control as a sink).

#include <asio/io_context.hpp>
#include <asio/ip/udp.hpp>
#include <iostream>

#include <quorvane-gps/gps.hpp>

class LastTpv final : public quorvane::EpochSink {
 public:
  void TakeEpoch(const quorvane::Fix& fix, const std::string& stream) override {
    tpv = quorvane::TpvJson(fix, stream);
  }
  std::string tpv;
};

int main() {
  asio::io_context io;
  quorvane::GPS gps(io);
  bool decoded = false;
  gps.Advise({.Stream = [&](std::string&) { decoded = !gps.Latitude().empty(); }});
  const auto last = std::make_shared<LastTpv>();
  gps.AddSink(std::shared_ptr<quorvane::EpochSink>(last));

  asio::ip::udp::socket probe(io, {asio::ip::address_v4::loopback(), 0});
  const auto port = probe.local_endpoint().port();
  probe.close();
  gps.Connect(static_cast<int16_t>(port));

  asio::ip::udp::socket sender(io, asio::ip::udp::v4());
  const std::string gga = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n";
  sender.send_to(asio::buffer(gga), {asio::ip::address_v4::loopback(), port});
  for (int i = 0; i < 100 && !decoded; ++i) io.run_one_for(std::chrono::milliseconds(20));

  // The cycle under way ends with the source.
  gps.StopGPS();

  std::cout << "quorvane-gps " << gps.Version() << ": " << gps.Latitude() << ", " << gps.Longitude()
            << " at " << gps.GPS_Time() << " UTC, " << gps.Altitude_Feet() << " ft\n"
            << last->tpv << "\n";
  return decoded && last->tpv.find("\"lat\":48.117300000") != std::string::npos ? 0 : 1;
}
