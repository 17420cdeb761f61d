// A host of the GPS control with a pseudo-terminal as its receiver: it writes a few seconds of
// NMEA into the terminal, lets the control read them like any serial port and prints every
// event the control raises and the fix it decoded.

#include <pty.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>

#include "control/gps.hpp"
#include "platform/port_table.hpp"

namespace {

std::string WithChecksum(const std::string& body) {
  unsigned char sum = 0;
  for (const char c : body) sum ^= static_cast<unsigned char>(c);
  std::array<char, 8> tail{};
  std::snprintf(tail.data(), tail.size(), "*%02X\r\n", sum);
  return "$" + body + tail.data();
}

std::vector<std::string> SampleSeconds() {
  std::vector<std::string> seconds;
  for (int i = 0; i < 3; ++i) {
    const std::string time = "1235" + std::to_string(19 + i);
    seconds.push_back(
        WithChecksum("GPGGA," + time + ",4807.0" + std::to_string(38 + i) +
                     ",N,01131.000,E,1,08,0.9,545." + std::to_string(4 + i) + ",M,46.9,M,,") +
        WithChecksum("GPRMC," + time + ",A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W") +
        WithChecksum("GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1." + std::to_string(3 + i) + ",2.1") +
        WithChecksum("GPGSV,2,1,08,01,40,083,46,02,17,308,41,12,07,344,39,14,22,228,45") +
        WithChecksum("GPGSV,2,2,08,15,53,155," + std::to_string(40 + i) + ",18,,,,20,,,,22,,,"));
  }
  return seconds;
}

std::string Visible(std::string text) {
  std::string shown;
  for (const char c : text) {
    if (c == '\r') {
      shown += "<CR>";
    } else if (c == '\n') {
      shown += "<LF>\n    ";
    } else {
      shown += c;
    }
  }
  return shown;
}

void PrintFix(const quorvane::GPS& gps) {
  std::printf("  position %s, %s  altitude %s %s (%s ft)  quality %s  satellites %s\n",
              gps.Latitude().c_str(), gps.Longitude().c_str(), gps.Altitude().c_str(),
              gps.AltitudeUnit().c_str(), gps.Altitude_Feet().c_str(), gps.GPSQuality().c_str(),
              gps.Satellites().c_str());
  std::printf("  UTC %s  local %s  speed %s km/h, %s mph, %s kn  odometer %s m\n",
              gps.GPS_Time().c_str(), gps.LocalTime().c_str(), gps.Speed().c_str(),
              gps.SpeedMph().c_str(), gps.SpeedKnots().c_str(), gps.Odometer().c_str());
  std::printf("  HDOP %s  VDOP %s  first satellite elevation %s azimuth %s SNR %s\n",
              gps.HDOP().c_str(), gps.VDOP().c_str(), gps.Elevation().c_str(),
              gps.Azimute().c_str(), gps.SNR().c_str());
}

}  // namespace

int main() {
  int master = -1;
  int slave = -1;
  std::array<char, 128> slave_name{};
  if (::openpty(&master, &slave, slave_name.data(), nullptr, nullptr) != 0) {
    std::perror("openpty");
    return 1;
  }
  constexpr int16_t kPort = 100;
  quorvane::AssignPort(kPort, slave_name.data());
  std::printf("fake receiver on %s, assigned to port %d\n", slave_name.data(), kPort);

  asio::io_context io;
  quorvane::GPS gps(io);
  gps.Advise({.Error = [](std::string& d) { std::printf("Error: %s\n", d.c_str()); },
              .SerialPort = [](int16_t& n) { std::printf("SerialPort: %d\n", n); },
              .Stream =
                  [&gps](std::string& data) {
                    std::printf("Stream (%zu bytes):\n    %s\n", data.size(),
                                Visible(data).c_str());
                    PrintFix(gps);
                  }});

  gps.EnumSerialPorts();
  gps.Port(kPort);
  gps.PortSettings("9600,n,8,1");
  gps.Start();
  std::printf("Engine: %s, settings %s, version %s\n", gps.Engine() ? "running" : "stopped",
              gps.PortSettings().c_str(), gps.Version().c_str());

  const std::vector<std::string> seconds = SampleSeconds();
  asio::steady_timer timer(io);
  size_t next = 0;
  std::function<void()> write_next = [&] {
    if (next == seconds.size()) {
      gps.StopGPS();
      return;
    }
    const std::string& text = seconds[next++];
    if (::write(master, text.data(), text.size()) < 0) std::perror("write");
    timer.expires_after(std::chrono::milliseconds(300));
    timer.async_wait([&](const std::error_code&) { write_next(); });
  };
  write_next();
  io.run();

  std::printf("Distance from the first to the last position: %.3f m\n",
              gps.DistanceBetween2CoordinatesMeters(48.1173, 11.5166666666667, 48.1173 + 2e-3 / 60,
                                                    11.5166666666667));
  std::printf("Time zone (hours west of UTC): %s\n", gps.TimeZone().c_str());
  std::printf("Engine after StopGPS: %s\n", gps.Engine() ? "running" : "stopped");
  ::close(master);
  ::close(slave);
  return 0;
}
