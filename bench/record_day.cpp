// Recording a whole day: 24 hours of a 1 Hz receiver (86,400 fixes, six sentences each) go
// through a control's UDP source, ParseNMEA and the track recorder into a KML file. Prints the
// CPU time of the whole process (the sending side included) and its peak memory.

#include <sys/resource.h>

#include <time.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "apps/nmea_simulator.hpp"
#include "control/gps.hpp"
#include "support/udp_peer.hpp"

namespace {

double ThreadCpuSeconds() {
  timespec now{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
  const double hours = argc > 1 ? std::stod(argv[1]) : 24;
  const std::string kml = (std::filesystem::temp_directory_path() / "qgps-record-day.kml").string();

  quorvane::simulator::DriveOptions options;
  options.duration_s = hours * 3600;
  options.start_utc_s = 0;
  quorvane::simulator::NmeaSimulator simulator(options);

  asio::io_context io;
  quorvane::GPS gps(io);
  size_t streams = 0;
  gps.Advise({.Stream = [&](std::string&) { ++streams; }});
  const uint16_t port = quorvane::testing::UdpPeer::FreePort();
  gps.Connect(quorvane::testing::AsPortNumber(port));
  quorvane::testing::UdpPeer sender;
  gps.StartKMLRecord(kml, "A day");

  const auto started = std::chrono::steady_clock::now();
  double control_cpu = 0;        // taking, decoding and recording, without making and sending
  constexpr size_t kBatch = 32;  // what the socket's receive buffer holds with room to spare
  for (size_t fix = 0; fix < simulator.FixCount();) {
    const size_t end = std::min(fix + kBatch, simulator.FixCount());
    const size_t expected = streams + (end - fix);
    for (; fix < end; ++fix) sender.SendTo(port, simulator.Sentences(fix));
    const double before = ThreadCpuSeconds();
    io.restart();
    while (streams < expected) io.run_one_for(std::chrono::milliseconds(200));
    control_cpu += ThreadCpuSeconds() - before;
  }
  gps.StopKMLRecord();
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  std::printf("fixes %zu, placemarks %.0f, KML %.1f MiB\n", simulator.FixCount(),
              gps.RecordedPoints(),
              static_cast<double>(std::filesystem::file_size(kml)) / (1024 * 1024));
  std::printf("wall %.3f s, CPU %.3f s in all, %.3f s of it in the control; peak memory %.1f MiB\n",
              wall, cpu, control_cpu, static_cast<double>(usage.ru_maxrss) / 1024);
  std::filesystem::remove(kml);
  return 0;
}
