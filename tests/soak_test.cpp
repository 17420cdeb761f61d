// Soak: two controls on one loop, one fed by a pseudo-terminal and one by a UDP sender,
// 10,000 sentences a second in all, each recording KML. Nothing may crash, memory must stay flat
// (the path's points wait in a spool file), and every GGA sentence with a position must reach
// its track.
//
// QGPS_SOAK_SECONDS sets the length (default 60).

#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <tuple>

#include "apps/nmea_simulator.hpp"
#include "control/gps.hpp"
#include "support/files.hpp"
#include "support/pseudo_terminal.hpp"
#include "support/run_until.hpp"
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
  const std::string serial_kml = folder.File("serial.kml");
  const std::string network_kml = folder.File("network.kml");

  asio::io_context io;
  GPS serial_gps(io);
  testing::PseudoTerminal pty;
  serial_gps.Port(pty.AssignTo(280));
  serial_gps.Broadcast(true);  // and everything relayed, to where nobody listens
  serial_gps.BroadcastAddress("127.0.0.1");
  serial_gps.TxPort(testing::AsPortNumber(testing::UdpPeer::FreePort()));
  serial_gps.StartKMLRecord(serial_kml, "Soak");
  serial_gps.Start();
  ASSERT_TRUE(serial_gps.Engine());
  GPS network_gps(io);
  const uint16_t network_port = testing::UdpPeer::FreePort();
  network_gps.StartKMLRecord(network_kml, "Soak");
  network_gps.Connect(testing::AsPortNumber(network_port));

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
    network_sent = Feed(network_fixes, stop,
                        [&](const std::string& text) { sender.SendTo(network_port, text); });
  });

  const auto begun = Clock::now();
  size_t memory_at_5s = 0;
  while (Clock::now() - begun < std::chrono::duration<double>(seconds)) {
    io.restart();
    io.run_for(100ms);
    if (memory_at_5s == 0 && Clock::now() - begun >= 5s) memory_at_5s = ResidentBytes();
  }
  stop = true;
  serial.join();
  network.join();
  // What is still on its way: both tracks have every fix sent, or the wait ends.
  testing::RunUntil(io, [&] {
    return serial_gps.RecordedPoints() == static_cast<double>(serial_sent) &&
           network_gps.RecordedPoints() == static_cast<double>(network_sent);
  });
  const size_t memory_at_end = ResidentBytes();
  serial_gps.StopKMLRecord();
  network_gps.StopKMLRecord();

  // The serial line loses nothing. UDP may drop a datagram when the machine is busier than the
  // socket's buffer allows (a loaded machine, the sanitizers): a thousandth at most, and every
  // fix that arrived is in the track.
  for (const auto& [gps, kml, sent, may_lose] :
       {std::tuple{&serial_gps, serial_kml, serial_sent, size_t{0}},
        std::tuple{&network_gps, network_kml, network_sent, network_sent / 1000}}) {
    const std::string track = testing::ReadFile(kml);
    const auto recorded = static_cast<size_t>(gps->RecordedPoints());
    EXPECT_LE(recorded, sent) << kml;
    EXPECT_GE(recorded + may_lose, sent) << kml;
    EXPECT_EQ(Count(track, "  </Placemark>\r\n"), recorded + 1) << kml;  // and the path's own
    EXPECT_TRUE(track.ends_with("</Document>\r\n</kml>\r\n")) << kml;
  }
  ASSERT_GT(memory_at_5s, 0u);
#if !defined(__SANITIZE_ADDRESS__)  // the sanitizer's own quarantine holds freed memory
  const double growth = static_cast<double>(memory_at_end) - static_cast<double>(memory_at_5s);
  EXPECT_LT(growth, 0.10 * static_cast<double>(memory_at_5s))
      << "resident " << memory_at_5s << " -> " << memory_at_end << " bytes";
#endif
  std::cout << "soak: " << seconds << " s, " << (serial_sent + network_sent) * 6 << " sentences, "
            << serial_sent + network_sent << " placemarks, resident " << memory_at_5s / 1024
            << " -> " << memory_at_end / 1024 << " KiB\n";
}

}  // namespace
}  // namespace quorvane
