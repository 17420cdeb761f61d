// A C++ host that serves its own receiver to Linux's programs: gpsd's protocol (cgps, gpspipe,
// the gps Python module) and the live map, while it reads a receiver or a log.
//
//   gps-serve SOURCE [GPSD-ADDRESS] [MAP-ADDRESS]
//   gps-serve serial:/dev/ttyUSB0?9600,n,8,1 :2950 :8081
//   gps-serve 'file:drive.nmea?speed=1'      # then: cgps 127.0.0.1:2950
//
// Port 0 takes any free port; what each output serves on is printed once it listens.

#include <asio/io_context.hpp>
#include <asio/signal_set.hpp>
#include <asio/steady_timer.hpp>
#include <functional>
#include <iostream>

#include <quorvane-gps/gps.hpp>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: gps-serve SOURCE [GPSD-ADDRESS] [MAP-ADDRESS]\n";
    return 2;
  }
  asio::io_context io;
  quorvane::GPS gps(io);
  gps.AllTalkers(true);
  gps.Advise({.Notice = [](const std::string& what, quorvane::NoticeKind) {
    std::cerr << "gps-serve: " << what << "\n";
  }});
  const std::string gpsd = argc > 2 ? argv[2] : ":2950";
  const std::string map = argc > 3 ? argv[3] : ":8081";
  if (!gps.OpenSink("gpsd://" + gpsd) || !gps.OpenSink("http://" + map + "?tiles=none")) return 2;
  for (const std::string& state : gps.SinkStates()) std::cout << state << std::endl;

  bool failed = false;
  gps.Advise({.Error = [&](std::string&) { failed = true; }});
  gps.OpenSource(argv[1]);
  // Until the log ends (a source that closes by itself), or Ctrl-C.
  asio::signal_set signals(io, SIGINT, SIGTERM);
  signals.async_wait([&](const std::error_code&, int) { io.stop(); });
  asio::steady_timer watch(io);
  std::function<void()> check = [&] {
    if (!gps.Engine() && !failed) {
      io.stop();
      return;
    }
    watch.expires_after(std::chrono::milliseconds(200));
    watch.async_wait([&](const std::error_code& error) {
      if (!error) check();
    });
  };
  check();
  io.run();
  gps.StopGPS();
  return failed ? 1 : 0;
}
