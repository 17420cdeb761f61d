// gps-monitor end to end: the binary run as a person runs it, its files read back by gpsbabel
// and xmllint.

#include <signal.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <asio/ip/tcp.hpp>
#include <asio/write.hpp>

#include "apps/nmea_simulator.hpp"
#include "support/files.hpp"
#include "support/mosquitto_broker.hpp"
#include "support/programs.hpp"
#include "support/pseudo_terminal.hpp"
#include "support/udp_peer.hpp"

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using testing::ReadFile;

struct Outcome {
  int exit_code;
  std::string out;
  std::string err;
};

class GpsMonitorTest : public ::testing::Test {
 protected:
  // Starts gps-monitor with `arguments`, its output going to files of the scratch folder.
  pid_t Spawn(const std::vector<std::string>& arguments, const std::string& name = "run") {
    std::vector<std::string> all{GPS_MONITOR};
    all.insert(all.end(), arguments.begin(), arguments.end());
    const pid_t pid =
        testing::SpawnProgram(all, folder_.File(name + ".out"), folder_.File(name + ".err"));
    EXPECT_NE(pid, 0);
    return pid;
  }
  Outcome Wait(pid_t pid, const std::string& name = "run") {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status),
            ReadFile(folder_.File(name + ".out")), ReadFile(folder_.File(name + ".err"))};
  }
  Outcome Run(const std::vector<std::string>& arguments) { return Wait(Spawn(arguments)); }

  // A short drive written by the simulator.
  std::string ShortDrive(double seconds) {
    simulator::DriveOptions options;
    options.duration_s = seconds;
    simulator::NmeaSimulator drive(options);
    const std::string path = folder_.File("short.nmea");
    std::ofstream file(path, std::ios::binary);
    for (size_t fix = 0; fix < drive.FixCount(); ++fix) file << drive.Sentences(fix);
    return path;
  }

  static std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  // The TPV objects of gpsd's JSON, one per epoch.
  static std::vector<std::string> Tpvs(const std::string& text) {
    std::vector<std::string> tpvs;
    for (auto& line : Lines(text)) {
      if (line.starts_with("{\"class\":\"TPV\"")) tpvs.push_back(std::move(line));
    }
    return tpvs;
  }

  // A field of a JSON object as its text: a string without its quotes, a number or null as
  // written.
  static std::string JsonField(const std::string& json, const std::string& name) {
    const std::string key = "\"" + name + "\":";
    size_t at = json.find(key);
    if (at == std::string::npos) return "";
    at += key.size();
    if (json[at] == '"') return json.substr(at + 1, json.find('"', at + 1) - at - 1);
    return json.substr(at, json.find_first_of(",}", at) - at);
  }

  testing::ScratchFolder folder_;
};

TEST_F(GpsMonitorTest, ReplaysTheBundledDriveIntoJsonAndAKmlTrackInTheLoopOrThroughAPty) {
  for (const bool via_pty : {false, true}) {
    SCOPED_TRACE(via_pty ? "through a pseudo-terminal" : "inside the loop");
    const std::string kml = folder_.File("drive.kml");
    std::vector<std::string> arguments{"--replay", SAMPLE_DRIVE,    "--speed",
                                       "max",      "--json",        "--record",
                                       kml,        "--description", "Sample drive"};
    if (via_pty) arguments.push_back("--replay-via-pty");
    const Outcome run = Run(arguments);
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const auto lines = Tpvs(run.out);
    ASSERT_EQ(lines.size(), 600u);  // one TPV per reporting cycle

    // The bundled drive is the simulator's: ten minutes, a tunnel at minute 5, 1.5 m noise.
    simulator::DriveOptions options;
    options.duration_s = 600;
    options.fix_loss_s = std::pair{300.0, 330.0};
    simulator::NmeaSimulator drive(options);
    const simulator::Waypoint last = drive.TruePosition(599);
    EXPECT_NEAR(std::stod(JsonField(lines.back(), "lat")), last.latitude, 1e-4);
    EXPECT_NEAR(std::stod(JsonField(lines.back(), "lon")), last.longitude, 1e-4);
    EXPECT_EQ(JsonField(lines.back(), "time"), "2026-12-07T12:09:59.000Z");
    // In the tunnel: no fix, and no position at all (never 0, 0).
    EXPECT_EQ(JsonField(lines[310], "mode"), "1");
    EXPECT_EQ(lines[310].find("\"lat\""), std::string::npos) << lines[310];
    // The first cycle has its RMC's speed and date already.
    EXPECT_EQ(JsonField(lines[0], "time"), "2026-12-07T12:00:00.000Z");
    EXPECT_NE(JsonField(lines[0], "speed"), "");

    EXPECT_EQ(std::system(("xmllint --noout " + kml).c_str()), 0);
    const std::string csv = folder_.File("points.csv");
    ASSERT_EQ(std::system(("gpsbabel -i kml -f " + kml + " -o unicsv -F " + csv).c_str()), 0);
    EXPECT_EQ(Lines(ReadFile(csv)).size(), 1u + 570u);  // the header and every GGA with a position
    EXPECT_FALSE(std::filesystem::exists(kml + ".points.tmp"));
    // Placemarks carry the receiver's time, not the run's (the first GGA comes before any date).
    EXPECT_NE(ReadFile(kml).find("<when>2026-12-07T12:00:01.000Z</when>"), std::string::npos);
  }
}

TEST_F(GpsMonitorTest, OneRunRecordsKmlGpxAndGeoJsonThatTheirReadersTake) {
  const std::string kml = folder_.File("drive.kml");
  const std::string gpx = folder_.File("drive.gpx");
  const std::string geojson = folder_.File("drive.geojson");
  const std::string table = folder_.File("drive.csv");
  const Outcome run =
      Run({"--replay", SAMPLE_DRIVE, "--speed", "max", "--record", kml, "--record", gpx, "--record",
           geojson, "--record", table, "--description", "Tom & Jerry"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(std::system(("xmllint --noout " + kml + " " + gpx).c_str()), 0);
  // 570 fixes with a position, the tunnel splitting them in two segments.
  const std::string csv = folder_.File("track.csv");
  ASSERT_EQ(std::system(("gpsbabel -t -i gpx -f " + gpx + " -o unicsv -F " + csv).c_str()), 0);
  const auto points = Lines(ReadFile(csv));
  ASSERT_EQ(points.size(), 1u + 570u);
  // Every point has its time, the first too: its cycle's RMC gives the date.
  EXPECT_EQ(points[1], "1,48.137423,11.575462,520.0,\"3d\",0.90,1.60,1.80,8,2026/12/07,12:00:00\r");
  EXPECT_EQ(points[2], "2,48.137540,11.575337,520.1,\"3d\",0.90,1.60,1.80,8,2026/12/07,12:00:01\r");
  const std::string gpx_text = ReadFile(gpx);
  EXPECT_NE(gpx_text.find("<name>Tom &amp; Jerry</name>"), std::string::npos);
  EXPECT_EQ(Lines(gpx_text).size() - 570, 10u);  // header, name, two segments, end
  for (const std::string& file : {gpx, geojson}) {
    const std::string info = folder_.File("info.txt");
    ASSERT_EQ(std::system(("ogrinfo -ro -al -so " + file + " >" + info).c_str()), 0) << file;
    EXPECT_NE(ReadFile(info).find("Multi Line String\nFeature Count: 1"), std::string::npos)
        << ReadFile(info);
  }
  const std::string json = ReadFile(geojson);
  EXPECT_TRUE(
      json.starts_with("{\"type\":\"FeatureCollection\",\"features\":[{\"type\":\"Feature\","
                       "\"geometry\":{\"type\":\"MultiLineString\",\"coordinates\":[[["
                       "11.5754616666667,48.1374233333333,520],"));
  EXPECT_NE(json.find("\"properties\":{\"name\":\"Tom & Jerry\",\"times\":[["
                      "\"2026-12-07T12:00:00.000Z\",\"2026-12-07T12:00:01.000Z\","),
            std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(geojson + ".times.tmp"));
  // The table has the same points as the GPX, a line each.
  const auto rows = Lines(ReadFile(table));
  ASSERT_EQ(rows.size(), 1u + 570u);
  EXPECT_EQ(rows[0], "time,lat,lon,alt,speed,course\r");
  EXPECT_TRUE(
      rows[1].starts_with("2026-12-07T12:00:00.000Z,48.1374233333333,11.5754616666667,520,"))
      << rows[1];
}

TEST_F(GpsMonitorTest, TrackFilesAreCheckedBeforeAndReportedWhenTheyCannotBeWritten) {
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"--record", "track.txt"},
        {"--record", "a.kml", "--record", "b.kml"}}) {
    const Outcome run = Run(arguments);
    EXPECT_EQ(run.exit_code, 2) << arguments[1];
    EXPECT_TRUE(run.err.starts_with("gps-monitor: --record ")) << run.err;
  }
  // A file that cannot be made is a mistake in the command, said before anything starts.
  const std::string kml = folder_.File("kept.kml");
  const std::string nowhere = folder_.File("no/such/folder/t.gpx");
  const Outcome run =
      Run({"--replay", SAMPLE_DRIVE, "--speed", "max", "--record", kml, "--record", nowhere});
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_EQ(run.err, "gps-monitor: Cannot use output \"" + nowhere + "\": no folder " +
                         folder_.File("no/such/folder") + "\n");
  EXPECT_FALSE(std::filesystem::exists(kml));
}

TEST_F(GpsMonitorTest, ATrackThatFillsTheDiskIsSaidOnceAndFailsTheRun) {
  const std::string tiny = folder_.File("tiny");
  const testing::SmallFileSystem disk(tiny);
  if (!disk.Mounted()) GTEST_SKIP() << "no right to mount a small file system here";
  const Outcome run =
      Run({"--replay", SAMPLE_DRIVE, "--speed", "max", "--record", tiny + "/drive.gpx"});
  EXPECT_EQ(run.exit_code, 1);
  // Its flush and its end fail alike: one sentence.
  const std::string full = "No space left on device";
  EXPECT_NE(run.err.find(full), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find(full), run.err.rfind(full)) << run.err;
}

TEST_F(GpsMonitorTest, ASourceAddressOpensAnySourceOrSaysWhatIsWrongWithIt) {
  const Outcome run =
      Run({"--source", std::string("file:") + SAMPLE_DRIVE + "?speed=max", "--json"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(Tpvs(run.out).size(), 600u);
  // --speed counts for a log named by an address too (20 s of drive, not in real time).
  const auto started = std::chrono::steady_clock::now();
  const Outcome fast = Run({"--source", "file:" + ShortDrive(20), "--speed", "max", "--json"});
  EXPECT_EQ(fast.exit_code, 0) << fast.err;
  EXPECT_EQ(Tpvs(fast.out).size(), 20u);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
  const Outcome bad = Run({"--source", "ftp://example:21"});
  EXPECT_EQ(bad.exit_code, 2);
  EXPECT_EQ(bad.err,
            "gps-monitor: Invalid source address \"ftp://example:21\": unknown scheme \"ftp\"\n");
}

TEST_F(GpsMonitorTest, AsAServiceItTakesGpsdsSocketFromSystemdAndSaysWhenItIsReady) {
  if (!testing::RunProgram({"systemd-socket-activate", "--help"})) {
    GTEST_SKIP() << "systemd-socket-activate is not installed (scripts/setup.sh --tests)";
  }
  // The service manager's end of sd_notify: a datagram socket of the test's own.
  const std::string notify_path = folder_.File("notify");
  const int notify = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  notify_path.copy(address.sun_path, sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(notify, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  // A receiver on a pseudo-terminal, named by a configuration file; the socket from systemd.
  testing::PseudoTerminal receiver;
  const std::string config = folder_.File("gps-monitor.conf");
  std::ofstream(config) << "# as the package ships it, with this test's receiver\n"
                        << "device = \"" << receiver.SlavePath() << "\"\n"
                        << "serve-gpsd = \"127.0.0.1:2947\"\n";
  // systemd-socket-activate takes no port 0: freed ports, and others when one was taken
  // meanwhile (it ends). A first connection starts gps-monitor on the socket; gpspipe then
  // watches, and is sent the receiver's fixes once its watch is answered.
  uint16_t port = 0;
  uint16_t map_port = 0;
  pid_t service = 0;
  for (int attempt = 0; attempt < 3 && service == 0; ++attempt) {
    port = testing::FreeTcpPort();
    map_port = testing::FreeTcpPort();
    service =
        testing::SpawnProgram({"systemd-socket-activate", "-l", "127.0.0.1:" + std::to_string(port),
                               "-l", "127.0.0.1:" + std::to_string(map_port), "--fdname=gpsd:web",
                               "-E", "NOTIFY_SOCKET=" + notify_path, "-E", "WATCHDOG_USEC=400000",
                               GPS_MONITOR, "--config", config},
                              folder_.File("service.out"), folder_.File("service.err"));
    if (!testing::ListensOn(service, port, 20s)) {
      if (service != 0) {
        ::kill(service, SIGKILL);
        ::waitpid(service, nullptr, 0);
      }
      service = 0;
    }
  }
  ASSERT_NE(service, 0) << ReadFile(folder_.File("service.err"));
  const pid_t pipe =
      testing::SpawnProgram({"gpspipe", "-w", "-n", "8", "127.0.0.1:" + std::to_string(port)},
                            folder_.File("pipe"), "/dev/null");
  for (int waited = 0; waited < 400 && ReadFile(folder_.File("pipe")).find("\"class\":\"WATCH\"") ==
                                           std::string::npos;
       ++waited) {
    std::this_thread::sleep_for(50ms);
  }
  simulator::DriveOptions options;
  options.duration_s = 10;
  simulator::NmeaSimulator drive(options);
  int status = 0;
  for (size_t fix = 0; fix < drive.FixCount() && ::waitpid(pipe, &status, WNOHANG) == 0; ++fix) {
    receiver.Write(drive.Sentences(fix));
    std::this_thread::sleep_for(100ms);
  }
  if (::waitpid(pipe, &status, WNOHANG) == 0) ::kill(pipe, SIGKILL);
  std::string said;
  for (int waited = 0; waited < 100 && said.find("WATCHDOG=1") == std::string::npos; ++waited) {
    std::array<char, 512> datagram{};
    const ssize_t got = ::recv(notify, datagram.data(), datagram.size(), 0);
    if (got > 0) said.append(datagram.data(), static_cast<size_t>(got)).append("\n");
    if (got <= 0) std::this_thread::sleep_for(50ms);
  }
  // The map is served on the second socket handed over, though no --web was given.
  std::string page;
  {
    asio::io_context io;
    asio::ip::tcp::socket browser(io);
    const std::string request =
        "GET / HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(map_port) + "\r\n\r\n";
    std::array<char, 4096> answer{};
    browser.async_connect({asio::ip::make_address("127.0.0.1"), map_port}, [&](auto error) {
      if (error) return;
      asio::async_write(browser, asio::buffer(request), [&](auto written, size_t) {
        if (written) return;
        browser.async_read_some(asio::buffer(answer),
                                [&](auto, size_t got) { page.assign(answer.data(), got); });
      });
    });
    io.run_for(10s);
  }
  ::kill(service, SIGTERM);
  ::waitpid(service, nullptr, 0);
  ::close(notify);
  EXPECT_TRUE(page.starts_with("HTTP/1.1 200")) << page;
  const std::string served = ReadFile(folder_.File("pipe"));
  EXPECT_NE(served.find("\"class\":\"TPV\""), std::string::npos)
      << served << ReadFile(folder_.File("service.err"));
  EXPECT_NE(said.find("READY=1"), std::string::npos) << said;
  EXPECT_NE(said.find("STATUS=reading " + receiver.SlavePath()), std::string::npos) << said;
  EXPECT_NE(said.find("WATCHDOG=1"), std::string::npos) << said;
}

TEST_F(GpsMonitorTest, WritingToTheJournalItDrawsNoScreenAndGivesEachLineItsPriority) {
  // The journal's stream, as systemd names it to a service: its standard error is that file.
  const auto journal_run = [&](const std::vector<std::string>& arguments) {
    std::ofstream(folder_.File("journal.err")).flush();
    struct stat file {};
    ::stat(folder_.File("journal.err").c_str(), &file);
    ::setenv("JOURNAL_STREAM",
             (std::to_string(file.st_dev) + ":" + std::to_string(file.st_ino)).c_str(), 1);
    const Outcome run = Wait(Spawn(arguments, "journal"), "journal");
    ::unsetenv("JOURNAL_STREAM");
    return run;
  };
  const Outcome replay = journal_run({"--replay", ShortDrive(3), "--speed", "max"});
  EXPECT_EQ(replay.exit_code, 0) << replay.err;
  EXPECT_EQ(replay.out, "");
  EXPECT_TRUE(replay.err.starts_with("<6>gps-monitor: reading replay of ")) << replay.err;
  const Outcome missing = journal_run({"--device", folder_.File("no-such-receiver")});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_TRUE(missing.err.starts_with("<3>gps-monitor: Cannot open serial port ")) << missing.err;
}

TEST_F(GpsMonitorTest, ServesTheReceivedTextToTcpClients) {
  // Port 0: any free one, which gps-monitor says.
  const pid_t monitor =
      Spawn({"--replay", SAMPLE_DRIVE, "--speed", "20", "--serve-nmea", "127.0.0.1:0"});
  const uint16_t port = testing::ServedPort(folder_.File("run.err"), "NMEA", monitor);
  ASSERT_NE(port, 0) << ReadFile(folder_.File("run.err"));
  asio::io_context io;
  asio::ip::tcp::socket client(io);
  std::error_code error;
  client.connect({asio::ip::make_address("127.0.0.1"), port}, error);
  ASSERT_FALSE(error) << error.message();
  std::string text;
  std::array<char, 4096> buffer{};
  while (text.find("$GPGGA") == std::string::npos && !error) {
    text.append(buffer.data(), client.read_some(asio::buffer(buffer), error));
  }
  ::kill(monitor, SIGTERM);
  EXPECT_EQ(Wait(monitor).exit_code, 0);
  EXPECT_NE(text.find("$GPGGA,"), std::string::npos);

  // Every network's clients: said, since anyone there gets the positions.
  const Outcome open =
      Run({"--replay", ShortDrive(2), "--speed", "max", "--serve-nmea", "0.0.0.0:0"});
  EXPECT_EQ(open.exit_code, 0) << open.err;
  EXPECT_NE(open.err.find("to every network that reaches this machine"), std::string::npos)
      << open.err;
}

TEST_F(GpsMonitorTest, ASourceStillAwayAtTheEndFailsTheRunAndSaysWhy) {
  const std::string address = "tcp://127.0.0.1:" + std::to_string(testing::FreeTcpPort());
  const pid_t monitor = Spawn({"--source", address});
  for (int i = 0; i < 200 && ReadFile(folder_.File("run.err")).find("in 1 s") == std::string::npos;
       ++i) {
    std::this_thread::sleep_for(50ms);
  }
  ::kill(monitor, SIGINT);
  const Outcome run = Wait(monitor);
  EXPECT_EQ(run.exit_code, 1);
  // Never connected: said so, once, with the reason; and why the run failed, at its end.
  EXPECT_TRUE(run.err.starts_with("gps-monitor: Cannot connect to " + address +
                                  ": Connection refused\ngps-monitor: reconnecting to " + address))
      << run.err;
  EXPECT_TRUE(run.err.ends_with("gps-monitor: stopped while " + address + " was away\n"))
      << run.err;
}

TEST_F(GpsMonitorTest, AGpsOnlyReplayOfAnotherConstellationSaysWhatItLeftOut) {
  const std::string log = folder_.File("gnss.nmea");
  std::ofstream(log) << "$GNGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*59\r\n"
                        "$GNRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,,*0F\r\n";
  const Outcome run = Run({"--replay", log, "--speed", "max", "--gp-only"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_TRUE(run.err.ends_with(
      "1 fixes from 12:35:19 to 12:35:19 UTC, 0 checksum errors (--gp-only left $GNGGA, $GNRMC "
      "out of the properties: run without it to have them)\n"))
      << run.err;
}

TEST_F(GpsMonitorTest, ReceivedTextCannotDriveTheTerminalAndALostFixSaysSo) {
  const std::string log = folder_.File("hostile.nmea");
  std::ofstream(log, std::ios::binary)
      << "$GPGGA,120000,4807.038,N,01131.000,E,1,08,0.9,545.4,\x1b]0;owned\x07\x1b[2J,46.9,M,,\r\n"
      << "$GPGGA,120001,,,,,0,03,,,M,,M,,\r\n";
  const Outcome run = Run({"--replay", log, "--speed", "max"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const auto lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 2u) << run.out;
  EXPECT_EQ(run.out.find_first_of("\x1b\x07"), std::string::npos);
  EXPECT_EQ(lines[0], "12:00:00 UTC  48.117300, 11.516667  3D  alt 545.4 m  sats 8");
  EXPECT_EQ(lines[1], "12:00:01 UTC  no fix");

  // Not a log at all: said at once, not read without end.
  const Outcome endless = Run({"--replay", "/dev/zero"});
  EXPECT_EQ(endless.exit_code, 1);
  EXPECT_EQ(endless.err, "gps-monitor: Cannot read /dev/zero: not a regular file\n");
}

TEST_F(GpsMonitorTest, ASecondMonitorListensToTheFirstOnesBroadcast) {
  const std::string drive = ShortDrive(30);
  const uint16_t port = testing::UdpPeer::FreePort();
  const pid_t listener = Spawn({"--listen", std::to_string(port), "--json-properties"}, "listener");
  // Ready once it holds the port.
  for (int i = 0; i < 200 && testing::UdpPeerBindable(port); ++i) std::this_thread::sleep_for(10ms);
  const Outcome sender = Wait(Spawn({"--replay", drive, "--speed", "max", "--json-properties",
                                     "--broadcast", "127.0.0.1:" + std::to_string(port)},
                                    "sender"),
                              "sender");
  ASSERT_EQ(sender.exit_code, 0) << sender.err;
  // Stopped once it has written a line for each of the sender's.
  for (int waited = 0; waited < 400 && Lines(ReadFile(folder_.File("listener.out"))).size() < 30;
       ++waited) {
    std::this_thread::sleep_for(50ms);
  }
  ::kill(listener, SIGTERM);
  const Outcome heard = Wait(listener, "listener");
  EXPECT_EQ(heard.exit_code, 0) << heard.err;
  const auto sent = Lines(sender.out);
  const auto received = Lines(heard.out);
  ASSERT_EQ(sent.size(), 30u) << sender.err;
  ASSERT_EQ(received.size(), 30u);
  EXPECT_EQ(JsonField(received.back(), "Latitude"), JsonField(sent.back(), "Latitude"));
  EXPECT_EQ(JsonField(received.back(), "Odometer"), JsonField(sent.back(), "Odometer"));
}

TEST_F(GpsMonitorTest, PrintsTheMapAddressOfTheFirstFix) {
  const Outcome run = Run({"--replay", ShortDrive(3), "--speed", "max", "--json-properties",
                           "--map", "google", "--print-url"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const auto lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 4u);  // the first fix's object, the address, two more objects
  EXPECT_EQ(lines[1], "https://maps.google.com/maps?ie=UTF8&ll=" + JsonField(lines[0], "Latitude") +
                          "," + JsonField(lines[0], "Longitude") + "&z=18&t=m");
}

TEST_F(GpsMonitorTest, APortThatCannotBeOpenedIsAnErrorWithTheReason) {
  Outcome run = Run({"--device", "/dev/no-such-receiver"});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.err,
            "gps-monitor: Cannot open serial port /dev/no-such-receiver: No such file or "
            "directory\n");
  run = Run({"--port", "97"});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.err, "gps-monitor: Invalid port number\n");
}

TEST_F(GpsMonitorTest, TheClockTakesTheTimeOfALiveReceiverOnly) {
  // A log's times are long past, and a fleet's vehicles send whatever time they like: each is
  // refused with 2 before a sample is written (or, unrefused, would run on until cut here).
  const std::string unit = "251";
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"--chrony-shm", unit},
        {"--replay", SAMPLE_DRIVE, "--speed", "max", "--chrony-shm", unit},
        {"--replay", SAMPLE_DRIVE, "--replay-via-pty", "--chrony-shm", unit},
        {"--source", "mqtt://127.0.0.1:1/fleet/+/nmea", "--chrony-shm", unit},
        {"--device", "/no/such/receiver", "--chrony-shm", unit, "--time-offset", "nan"}}) {
    const int status = testing::WaitAtMost(Spawn(arguments), 10s);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << arguments[1];
  }
  EXPECT_LT(::shmget(0x4E545030 + 251, 0, 0), 0);  // nothing was made
}

TEST_F(GpsMonitorTest, UsageErrorsExitWithTwo) {
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"--speed", "fast"},
        {"--port", "0"},
        {"--port", "3", "--listen", "5000"},
        {"--broadcast", "127.0.0.1"},
        {"--listen", "5000", "--broadcast", "127.0.0.1:5001"},
        {"--settings", "4800,x,8,1"},
        {"--map", "atlas"},
        {"--print-url"},
        {"--record", "out/x.kml", "--placemark", "out/../out/x.kml"},
        {"--record", "x.gpx", "--record", "./x.gpx"},
        {"--serve-nmea", "gps.example:10110"},
        {"--source", "file:x.nmea?speed=2", "--speed", "max"},
        {"--source", "file:no-such.nmea"},
        {"--mqtt-cafile", SAMPLE_DRIVE},  // no certificate in it
        {"--mqtt-id", "c1"},              // no MQTT client to name
        {"--source", "mqtt://127.0.0.1:1/f/+/nmea", "--mqtt-id", std::string(70000, 'c')},
        {"--chrony-shm", "2", "--time-offset", "nan"},
        {"--chrony-shm"},
        {"--publish-wait", "-1"},
        {"--mqtt-queue", "0"},
        {"--record-dir", "."},  // no fleet to record
        {"--record", "%Y/x.gpx"},
        {"--record", "x%Q.gpx"},
        {"--config", "/nonexistent/gps-monitor.conf"},
        {"--no-such-option"}}) {
    const Outcome run = Run(arguments);
    EXPECT_EQ(run.exit_code, 2) << arguments[0];
    EXPECT_TRUE(run.err.starts_with("gps-monitor: ")) << run.err;
  }
  // The forms the options take, each in a short replay that runs to its end.
  const std::string drive = ShortDrive(1);
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"--speed", "2.5"},
        {"--speed", "max", "--gp-only", "--no-checksum"},
        {"--speed", "max", "--json-properties"},
        {"--speed", "max", "--record", folder_.File("a.kml"), "--description", "x"},
        {"--speed", "max", "--record", folder_.File("%F.gpx"), "--record", folder_.File("a.csv")},
        {"--speed", "max", "--serve-nmea", "0"},
        {"--speed", "max", "--serve-gpsd", "127.0.0.1:0"},
        {"--speed", "max", "--web", "127.0.0.1:0", "--tiles", "none", "--web-hosts", "gps.lan"},
        {"--speed", "max", "--send", "$PMTK220,1000*1F\\r\\n"}}) {
    std::vector<std::string> run_arguments{"--replay", drive};
    run_arguments.insert(run_arguments.end(), arguments.begin(), arguments.end());
    const Outcome run = Run(run_arguments);
    EXPECT_EQ(run.exit_code, 0) << arguments.back() << ": " << run.err;
  }
  // A slip of the keyboard gets the option meant, and every usage error the way to the list.
  const Outcome slip = Run({"--recrod", "x.kml"});
  EXPECT_EQ(slip.err,
            "gps-monitor: --recrod is not an option; did you mean --record? (gps-monitor --help "
            "lists them)\n");
  EXPECT_NE(Run({"--speed"}).err.find("gps-monitor --help lists the options"), std::string::npos);
  // --help names what each option takes, not CLI11's bare types.
  const Outcome help = Run({"--help"});
  EXPECT_NE(help.out.find("--source ADDRESS"), std::string::npos) << help.out;
  EXPECT_EQ(help.out.find(" TEXT "), std::string::npos) << help.out;
}

TEST_F(GpsMonitorTest, EverySignalThatWouldEndItWhileRecordingLeavesCompleteTracks) {
  for (const int signal : {SIGTERM, SIGQUIT, SIGUSR1}) {
    SCOPED_TRACE(signal);
    const std::string kml = folder_.File("stopped.kml");
    const std::string gpx = folder_.File("stopped.gpx");
    const std::string geojson = folder_.File("stopped.geojson");
    const std::string placemark = folder_.File("last.kml");
    for (const auto& file : {kml, gpx, geojson, placemark}) std::filesystem::remove(file);
    const pid_t monitor = Spawn({"--replay", SAMPLE_DRIVE, "--speed", "20", "--record", kml,
                                 "--record", gpx, "--record", geojson, "--placemark", placemark});
    // The handlers are in place before the files open: signalled once a fix is in the track.
    for (int waited = 0; waited < 400 && ReadFile(kml).find("<Point>") == std::string::npos;
         ++waited) {
      std::this_thread::sleep_for(50ms);
    }
    ::kill(monitor, signal);
    const Outcome run = Wait(monitor);
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(std::system(("xmllint --noout " + kml + " " + gpx + " " + placemark).c_str()), 0);
    EXPECT_TRUE(ReadFile(geojson).ends_with("]}}]}\n")) << ReadFile(geojson);
    EXPECT_FALSE(std::filesystem::exists(geojson + ".times.tmp"));
    const std::string track = ReadFile(kml);
    EXPECT_NE(track.find("<Point>"), std::string::npos);
    EXPECT_TRUE(
        track.ends_with("      </coordinates>\r\n  </LineString>\r\n  </Placemark>\r\n"
                        "</Document>\r\n</kml>\r\n"));
    EXPECT_NE(ReadFile(placemark).find("<name>gps-monitor</name>"), std::string::npos);
    EXPECT_EQ(run.out.find('\x1b'), std::string::npos);  // no escape codes off a terminal
  }
}

TEST_F(GpsMonitorTest, AReaderThatLeavesEndsTheRunWithTheTrackFinished) {
  const std::string kml = folder_.File("piped.kml");
  const std::string command = std::string(GPS_MONITOR) + " --replay " + SAMPLE_DRIVE +
                              " --speed 20 --json --record " + kml + " | head -1 >/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(std::system(("xmllint --noout " + kml).c_str()), 0);
  EXPECT_TRUE(ReadFile(kml).ends_with("</Document>\r\n</kml>\r\n"));
}

TEST_F(GpsMonitorTest, AStartThatFailsLeavesTheUsersFilesAsTheyWere) {
  const std::string kml = folder_.File("keep.kml");
  const std::string placemark = folder_.File("keep-placemark.kml");
  std::ofstream(kml) << "my track";
  std::ofstream(placemark) << "my placemark";
  const Outcome run = Run(
      {"--device", folder_.File("no-such-receiver"), "--record", kml, "--placemark", placemark});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(ReadFile(kml), "my track");
  EXPECT_EQ(ReadFile(placemark), "my placemark");

  // A recording that cannot be written ends the run with its reason.
  const std::string taken = folder_.File("taken.kml");
  std::filesystem::create_directory(taken);
  const Outcome failed = Run({"--replay", SAMPLE_DRIVE, "--speed", "max", "--record", taken});
  EXPECT_EQ(failed.exit_code, 1);
  EXPECT_EQ(failed.err, "gps-monitor: Cannot record to " + taken + ": not a regular file\n")
      << failed.err;
}

// What a command prints (the test's own commands: fixed words and port numbers).
std::string OutputOf(const std::string& command) {
  std::string output;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[4096];
    for (size_t read; (read = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
      output.append(buffer, read);
    }
    ::pclose(pipe);
  }
  return output;
}

size_t Count(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

TEST_F(GpsMonitorTest, PublishesToABrokerAndFollowsAFleetWithATrackPerVehicle) {
  testing::MosquittoBroker broker(folder_.File(""));
  ASSERT_TRUE(broker.Start()) << "mosquitto is not installed (scripts/setup.sh --tests)";
  const std::string dir = folder_.File("tracks");
  std::filesystem::create_directory(dir);
  // As one of a group of consumers sharing the fleet: the vehicle is still the level of "+".
  const pid_t consumer = Spawn(
      {"--source", broker.Address("$share/recorders/fleet/+/nmea"), "--record-dir", dir, "--json"},
      "consumer");
  // A topic whose vehicle would be "..": said once, and its saying shows the consumer listens.
  const std::string port = std::to_string(broker.Port());
  const std::string hostile =
      "printf '$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\\r\\n' | "
      "mosquitto_pub -h 127.0.0.1 -p " +
      port + " -t 'fleet/../nmea' -s";
  const auto said = [&] { return ReadFile(folder_.File("consumer.err")); };
  for (int tries = 0; tries < 100 && said().find("fleet/../nmea") == std::string::npos; ++tries) {
    ASSERT_EQ(std::system(hostile.c_str()), 0);
    std::this_thread::sleep_for(50ms);
  }
  ASSERT_EQ(std::system(hostile.c_str()), 0);

  // A vehicle whose file is a link planted in the folder is not recorded through it.
  const std::string victim = folder_.File("victim.txt");
  std::ofstream(victim) << "kept";
  std::filesystem::create_symlink(victim, dir + "/lnk.kml");
  const std::string linked =
      "printf '$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\\r\\n' | "
      "mosquitto_pub -h 127.0.0.1 -p " +
      port + " -t 'fleet/lnk/nmea' -s";
  for (int tries = 0; tries < 100 && said().find("lnk.kml") == std::string::npos; ++tries) {
    ASSERT_EQ(std::system(linked.c_str()), 0);
    std::this_thread::sleep_for(50ms);
  }
  EXPECT_NE(said().find("Cannot record to " + dir + "/lnk.kml: it is a symbolic link"),
            std::string::npos)
      << said();
  std::filesystem::remove(dir + "/lnk.kml");

  // The publisher waits for the broker before it replays, so the whole drive goes out.
  const Outcome publisher =
      Run({"--speed", "max", "--json", "--publish", broker.Address("fleet/car7")});
  ASSERT_EQ(publisher.exit_code, 0) << publisher.err;
  const auto received = [&] {
    return Count(ReadFile(folder_.File("consumer.out")),
                 "{\"class\":\"TPV\",\"device\":\"fleet/car7/nmea\"");
  };
  for (int tries = 0; tries < 200 && received() < 600; ++tries) std::this_thread::sleep_for(50ms);
  ::kill(consumer, SIGTERM);
  const Outcome consumed = Wait(consumer, "consumer");
  EXPECT_EQ(consumed.exit_code, 0) << consumed.err;
  EXPECT_EQ(received(), 600u);  // one TPV per epoch, as the publisher printed them
  EXPECT_EQ(Count(consumed.err, "fleet/../nmea"), 1u) << consumed.err;
  EXPECT_EQ(ReadFile(victim), "kept");

  // One track, in the folder, and nothing else anywhere.
  std::vector<std::string> tracks;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    tracks.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(tracks, std::vector<std::string>{"car7.kml"});
  EXPECT_EQ(std::system(("xmllint --noout " + dir + "/car7.kml").c_str()), 0);
  EXPECT_EQ(Count(ReadFile(dir + "/car7.kml"), "<Placemark>"), 571u);  // 570 fixes and the path
  for (const auto& entry : std::filesystem::directory_iterator(folder_.File(""))) {
    EXPECT_NE(entry.path().extension(), ".kml") << entry.path();
  }

  // The last fix stays with the broker for whoever subscribes next; the status says the
  // publisher left.
  const std::string subscribe = "mosquitto_sub -h 127.0.0.1 -p " + port + " -C 1 -W 3 -t ";
  EXPECT_EQ(OutputOf(subscribe + "fleet/car7/fix"), Tpvs(publisher.out).back() + "\n");
  EXPECT_TRUE(OutputOf(subscribe + "fleet/car7/sky").starts_with("{\"class\":\"SKY\""));
  EXPECT_EQ(OutputOf(subscribe + "fleet/car7/status"), "offline\n");
}

TEST_F(GpsMonitorTest, FixesTheBrokerNeverHadAreCountedAndFailTheRun) {
  // No broker at that port: the replay waits its five seconds, then goes on without one, and
  // its end waits the second it was given for the broker to come.
  const Outcome run =
      Run({"--speed", "max", "--json", "--mqtt-queue", "10", "--publish-wait", "1", "--publish",
           "mqtt://127.0.0.1:" + std::to_string(testing::FreeTcpPort()) + "/car7"});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.err.find("590 fixes dropped while the broker was away (--mqtt-queue 10)"),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("10 fixes not published to mqtt://127.0.0.1:"), std::string::npos)
      << run.err;
  EXPECT_EQ(Tpvs(run.out).size(), 600u);  // the receiver's own output is whole
}

// A track named by the day is a complete file a UTC day (of the receiver's time), and SIGHUP
// finishes a track that logrotate moved away and begins it anew: no point lost or doubled.
TEST_F(GpsMonitorTest, TracksRotateAtMidnightAndOnSighup) {
  simulator::DriveOptions options;
  options.duration_s = 120;
  options.start_utc_s = 86400 - 60;
  simulator::NmeaSimulator drive(options);
  const std::string log = folder_.File("midnight.nmea");
  std::ofstream(log, std::ios::binary) << [&] {
    std::string text;
    for (size_t fix = 0; fix < drive.FixCount(); ++fix) text += drive.Sentences(fix);
    return text;
  }();
  const auto points = [](const std::string& file) {
    EXPECT_EQ(std::system(("xmllint --noout " + file).c_str()), 0) << file;
    return Count(ReadFile(file), "<trkpt");
  };
  const Outcome daily =
      Run({"--replay", log, "--speed", "max", "--record", folder_.File("%Y-%m-%d.gpx")});
  ASSERT_EQ(daily.exit_code, 0) << daily.err;
  EXPECT_EQ(points(folder_.File("2026-12-07.gpx")), 60u);
  EXPECT_EQ(points(folder_.File("2026-12-08.gpx")), 60u);

  const std::string track = folder_.File("track.gpx");
  const pid_t monitor = Spawn({"--replay", log, "--speed", "20", "--record", track});
  for (int waited = 0; waited < 400 && Count(ReadFile(track), "<trkpt") < 10; ++waited) {
    std::this_thread::sleep_for(50ms);
  }
  std::filesystem::rename(track, track + ".1");
  ::kill(monitor, SIGHUP);
  const Outcome run = Wait(monitor);
  EXPECT_EQ(run.exit_code, 0) << run.err;
  const size_t before = points(track + ".1");
  EXPECT_GE(before, 10u);
  EXPECT_EQ(before + points(track), 120u);
}

}  // namespace
}  // namespace quorvane
