// Soak: one control fed by a pseudo-terminal and a UDP sender at once, 10,000 sentences a second
// in all, recording KML. Nothing may crash, memory must stay flat beyond the path buffer's own
// growth, and every GGA sentence with a position must reach the track.
//
// QGPS_SOAK_SECONDS sets the length (default 60).

#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "apps/nmea_simulator.hpp"
#include "control/gps.hpp"
#include "support/files.hpp"
#include "support/pseudo_terminal.hpp"
#include "support/udp_peer.hpp"

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr double kFixesPerSecondEach = 5000.0 / 6;  // six sentences a fix, 5,000 a second each

size_t ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  size_t total = 0;
  size_t resident = 0;
  statm >> total >> resident;
  return resident * static_cast<size_t>(::sysconf(_SC_PAGESIZE));
}

// What the path buffer holds: one "lon,lat,alt" CR LF per placemark in the file so far.
size_t PathBytes(const std::string& kml) {
  const std::string text = testing::ReadFile(kml);
  size_t bytes = 0;
  const std::string open = "          <coordinates>";
  for (size_t at = text.find(open); at != std::string::npos; at = text.find(open, at + 1)) {
    const size_t start = at + open.size();
    bytes += text.find('<', start) - start + 2;
  }
  return bytes;
}

size_t Count(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

// Writes a simulated drive's fixes at the soak's pace until told to stop; returns how many GGA
// sentences it sent.
template <typename Send>
size_t Feed(simulator::NmeaSimulator& drive, const std::atomic<bool>& stop, Send send) {
  const auto begun = Clock::now();
  size_t fix = 0;
  while (!stop) {
    const double elapsed = std::chrono::duration<double>(Clock::now() - begun).count();
    const auto due = static_cast<size_t>(elapsed * kFixesPerSecondEach);
    for (; fix < due && fix < drive.FixCount(); ++fix) send(drive.Sentences(fix));
    std::this_thread::sleep_for(5ms);
  }
  return fix;
}

TEST(Soak, TwoSourcesAtTenThousandSentencesASecond) {
  const char* configured = std::getenv("QGPS_SOAK_SECONDS");
  const double seconds = configured != nullptr ? std::atof(configured) : 60;
  testing::ScratchFolder folder;
  const std::string kml = folder.File("soak.kml");

  asio::io_context io;
  GPS gps(io);
  testing::PseudoTerminal pty;
  const uint16_t own_port = testing::UdpPeer::FreePort();
  gps.Connect(testing::AsPortNumber(own_port));  // the socket keeps this port for the sender
  gps.StopGPS();
  gps.Port(pty.AssignTo(280));
  gps.Broadcast(true);
  gps.BroadcastAddress("127.0.0.1");
  gps.TxPort(testing::AsPortNumber(testing::UdpPeer::FreePort()));  // nobody listens there
  gps.StartKMLRecord(kml, "Soak");
  gps.Start();
  ASSERT_TRUE(gps.Engine());

  // Two drives that never meet: the serial one in Munich, the network one 1 degree north.
  simulator::DriveOptions serial_drive;
  serial_drive.duration_s = seconds * kFixesPerSecondEach + 1000;
  simulator::DriveOptions network_drive = serial_drive;
  for (auto& point : network_drive.route = simulator::MunichLoop()) point.latitude += 1;
  simulator::NmeaSimulator serial_fixes(serial_drive);
  simulator::NmeaSimulator network_fixes(network_drive);

  std::atomic<bool> stop{false};
  size_t serial_sent = 0;
  size_t network_sent = 0;
  std::thread serial([&] {
    serial_sent = Feed(serial_fixes, stop, [&](const std::string& text) { pty.Write(text); });
  });
  std::thread network([&] {
    testing::UdpPeer sender;
    network_sent =
        Feed(network_fixes, stop, [&](const std::string& text) { sender.SendTo(own_port, text); });
  });

  const auto begun = Clock::now();
  size_t memory_at_5s = 0;
  size_t path_at_5s = 0;
  while (Clock::now() - begun < std::chrono::duration<double>(seconds)) {
    io.restart();
    io.run_for(100ms);
    if (memory_at_5s == 0 && Clock::now() - begun >= 5s) {
      memory_at_5s = ResidentBytes();
      path_at_5s = PathBytes(kml);
    }
  }
  stop = true;
  serial.join();
  network.join();
  io.restart();
  io.run_for(500ms);  // what is still on its way
  const size_t memory_at_end = ResidentBytes();
  const size_t path_at_end = PathBytes(kml);
  gps.StopKMLRecord();

  const std::string track = testing::ReadFile(kml);
  const size_t sent = serial_sent + network_sent;
  EXPECT_EQ(gps.RecordedPoints(), static_cast<double>(sent));
  EXPECT_EQ(Count(track, "  </Placemark>\r\n"), sent + 1);  // and the path's own placemark
  EXPECT_TRUE(track.ends_with("</Document>\r\n</kml>\r\n"));
  ASSERT_GT(memory_at_5s, 0u);
#if !defined(__SANITIZE_ADDRESS__)  // the sanitizer's own quarantine holds freed memory
  const double growth = static_cast<double>(memory_at_end) - static_cast<double>(memory_at_5s) -
                        static_cast<double>(path_at_end - path_at_5s);
  EXPECT_LT(growth, 0.10 * static_cast<double>(memory_at_5s))
      << "resident " << memory_at_5s << " -> " << memory_at_end << " bytes, path buffer "
      << path_at_5s << " -> " << path_at_end;
#endif
  std::cout << "soak: " << seconds << " s, " << sent * 6 << " sentences, " << sent
            << " placemarks, resident " << memory_at_5s / 1024 << " -> " << memory_at_end / 1024
            << " KiB, path buffer " << path_at_5s / 1024 << " -> " << path_at_end / 1024
            << " KiB\n";
}

}  // namespace
}  // namespace quorvane
