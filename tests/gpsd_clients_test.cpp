// gps-monitor as Linux's GNSS programs see it: gpsd's own clients (gpspipe, cgps, the gps Python
// module) and gpsd itself reading one run that serves gpsd's protocol, and a real chronyd (which
// never touches this machine's clock) taking a replay's times from shared memory.

#include <signal.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "apps/nmea_simulator.hpp"
#include "support/files.hpp"
#include "support/mosquitto_broker.hpp"
#include "support/programs.hpp"
#include "support/pseudo_terminal.hpp"

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using testing::ReadFile;
using testing::Running;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<json> ObjectsOfClass(const std::string& text, const std::string& name) {
  std::vector<json> found;
  for (const std::string& line : Lines(text)) {
    const json object = json::parse(line, nullptr, false);
    if (object.is_object() && object.value("class", "") == name) found.push_back(object);
  }
  return found;
}

// A program stopped (SIGTERM) when the test is done with it.
// Runs a client to its end, at most `limit` long; its standard output.
std::string Output(std::vector<std::string> arguments, const std::string& file,
                   std::chrono::seconds limit = 20s) {
  arguments.insert(arguments.begin(), {"timeout", std::to_string(limit.count())});
  const pid_t pid = testing::SpawnProgram(arguments, file, "/dev/null");
  ::waitpid(pid, nullptr, 0);
  return ReadFile(file);
}

TEST(GpsdClientsTest, GpspipeCgpsThePythonModuleAndGpsdItselfReadOneRun) {
  testing::ScratchFolder folder;
  Running monitor(testing::SpawnProgram({GPS_MONITOR, "--replay", SAMPLE_DRIVE, "--speed", "4",
                                         "--serve-gpsd", "127.0.0.1:0", "--json"},
                                        folder.File("monitor.out"), folder.File("monitor.err")));
  const uint16_t port = testing::ServedPort(folder.File("monitor.err"), "gpsd", monitor.Pid());
  ASSERT_NE(port, 0) << ReadFile(folder.File("monitor.err"));
  const std::string address = "127.0.0.1:" + std::to_string(port);

  // gpspipe -w: the greeting, then TPV reports with a position.
  const std::string watched = Output({"gpspipe", "-w", "-n", "12", address}, folder.File("w"));
  ASSERT_EQ(ObjectsOfClass(watched, "VERSION").size(), 1u) << watched;
  const auto tpvs = ObjectsOfClass(watched, "TPV");
  ASSERT_FALSE(tpvs.empty()) << watched;
  EXPECT_NEAR(tpvs.back()["lat"].get<double>(), 48.14, 0.05);
  EXPECT_EQ(tpvs.back()["device"], SAMPLE_DRIVE);

  // gpspipe -r: the sentences as received, each whole.
  const std::string raw = Output({"gpspipe", "-r", "-n", "10", address}, folder.File("r"));
  size_t sentences = 0;
  for (const std::string& line : Lines(raw)) {
    if (line.starts_with("{")) continue;
    EXPECT_TRUE(line.starts_with("$GP") && line.ends_with("\r") && line[line.size() - 4] == '*')
        << line;
    ++sentences;
  }
  EXPECT_GE(sentences, 5u) << raw;

  // The gps module's client loop, as scripts use it.
  const std::string python =
      Output({"/usr/bin/python3", "-c",
              "import gps\n"
              "session = gps.gps(host='127.0.0.1', port=" +
                  std::to_string(port) +
                  ", mode=gps.WATCH_ENABLE)\n"
                  "for report in session:\n"
                  "    if report['class'] == 'TPV' and report.get('mode', 0) >= 2:\n"
                  "        print(report['lat'], report['lon'], report['time'])\n"
                  "        break\n"},
             folder.File("python"));
  std::istringstream fields(python);
  double latitude = 0;
  double longitude = 0;
  std::string time;
  fields >> latitude >> longitude >> time;
  EXPECT_NEAR(latitude, 48.14, 0.05) << python;
  EXPECT_NEAR(longitude, 11.57, 0.05) << python;
  EXPECT_TRUE(time.starts_with("2026-12-07T12:")) << python;

  // cgps on a terminal: its screen shows our position and time.
  const std::string tmux_socket = "qgps-cgps-" + std::to_string(::getpid());
  ASSERT_TRUE(testing::RunProgram({"tmux", "-L", tmux_socket, "new-session", "-d", "-x", "100",
                                   "-y", "30", "cgps " + address}));
  std::string screen;
  for (int tries = 0; tries < 50 && screen.find("Latitude:         48.") == std::string::npos;
       ++tries) {
    std::this_thread::sleep_for(100ms);
    screen = Output({"tmux", "-L", tmux_socket, "capture-pane", "-p"}, folder.File("screen"), 5s);
  }
  testing::RunProgram({"tmux", "-L", tmux_socket, "kill-server"});
  EXPECT_NE(screen.find("Latitude:         48."), std::string::npos) << screen;
  EXPECT_NE(screen.find("Longitude:        11."), std::string::npos) << screen;
  EXPECT_NE(screen.find("Time:        2026-12-07T12:"), std::string::npos) << screen;

  // gpsd reading us as its source: the positions it reports are ours.
  // On a port freed for it: one taken meanwhile ends gpsd, and another is tried.
  std::unique_ptr<Running> gpsd;
  uint16_t gpsd_port = 0;
  for (int attempt = 0; attempt < 5 && !gpsd; ++attempt) {
    gpsd_port = testing::FreeTcpPort();
    auto started = std::make_unique<Running>(testing::SpawnProgram(
        {testing::DaemonPath("gpsd"), "-N", "-n", "-S", std::to_string(gpsd_port), "-F",
         folder.File("gpsd.sock"), "gpsd://" + address},
        "/dev/null", "/dev/null"));
    if (testing::ListensOn(started->Pid(), gpsd_port)) gpsd = std::move(started);
  }
  ASSERT_TRUE(gpsd);
  const std::string relayed = Output(
      {"gpspipe", "-w", "-n", "12", "127.0.0.1:" + std::to_string(gpsd_port)}, folder.File("g"));
  monitor.Stop();
  std::map<std::string, json> ours;
  for (const json& tpv : ObjectsOfClass(ReadFile(folder.File("monitor.out")), "TPV")) {
    if (tpv.contains("time")) ours.emplace(tpv["time"], tpv);
  }
  const auto theirs = ObjectsOfClass(relayed, "TPV");
  ASSERT_FALSE(theirs.empty()) << relayed;
  for (const json& tpv : theirs) {
    const auto our = ours.find(tpv.value("time", "?"));
    ASSERT_NE(our, ours.end()) << tpv;
    EXPECT_NEAR(tpv["lat"].get<double>(), our->second["lat"].get<double>(), 1e-8) << tpv;
    EXPECT_NEAR(tpv["lon"].get<double>(), our->second["lon"].get<double>(), 1e-8) << tpv;
  }
}

TEST(ChronyTest, ChronydTakesALiveReceiversTimesFromSharedMemory) {
  const std::string chronyd = testing::DaemonPath("chronyd");
  if (::access(chronyd.c_str(), X_OK) != 0 || ::geteuid() != 0) {
    GTEST_SKIP() << "chronyd is not installed or this is not root (scripts/setup.sh --tests)";
  }
  // A unit nobody uses here, from a range of this test's own (the segment test beside it takes
  // units from 100, and a unit has one writer).
  int unit = 150;
  while (unit < 255 && ::shmget(0x4E545030 + unit, 0, 0) >= 0) ++unit;
  testing::ScratchFolder folder;
  // chronyd keeps its command socket only in a folder no one else may enter.
  ::chmod(folder.File(".").c_str(), 0700);
  {
    std::ofstream config(folder.File("chrony.conf"));
    config << "refclock SHM " << unit << " refid QGPS poll 0 dpoll 0\n"
           << "pidfile " << folder.File("chronyd.pid") << "\n"
           << "bindcmdaddress " << folder.File("chronyd.sock") << "\n"
           << "cmdport 0\nport 0\n";
  }
  // -x: the machine's clock is never touched.
  Running daemon(
      testing::SpawnProgram({chronyd, "-x", "-d", "-u", "root", "-f", folder.File("chrony.conf")},
                            "/dev/null", folder.File("chronyd.err")));

  // A receiver on a pseudo-terminal whose clock runs 3 s ahead of this machine's: each second's
  // sentences are written when that second begins here, so chrony should find the clock 3 s
  // behind its reference, whenever gps-monitor started.
  constexpr double kAhead = 3;
  const auto now = std::chrono::system_clock::now();
  const auto today = std::chrono::floor<std::chrono::days>(now);
  const auto first_second = std::chrono::ceil<std::chrono::seconds>(now) + 1s;
  const std::chrono::year_month_day date(today);
  simulator::DriveOptions options;
  options.duration_s = 30;
  options.start_utc_s = std::chrono::duration<double>(first_second - today).count() + kAhead;
  options.year = static_cast<int>(date.year());
  options.month = static_cast<int>(unsigned(date.month()));
  options.day = static_cast<int>(unsigned(date.day()));
  simulator::NmeaSimulator drive(options);
  testing::PseudoTerminal receiver;
  Running monitor(testing::SpawnProgram(
      {GPS_MONITOR, "--device", receiver.SlavePath(), "--chrony-shm", std::to_string(unit)},
      "/dev/null", folder.File("monitor.err")));
  std::atomic<bool> done = false;
  std::thread sending([&] {
    for (size_t fix = 0; fix < drive.FixCount() && !done; ++fix) {
      std::this_thread::sleep_until(first_second + std::chrono::seconds(fix));
      receiver.Write(drive.Sentences(fix));
    }
  });

  // chronyc -c sources: mode,state,name,stratum,poll,reach,last,offset,raw offset,error.
  std::vector<std::string> fields;
  for (int tries = 0; tries < 40; ++tries) {
    std::this_thread::sleep_for(500ms);
    const std::string sources =
        Output({"chronyc", "-c", "-n", "-h", folder.File("chronyd.sock"), "sources"},
               folder.File("c"), 5s);
    fields.clear();
    std::istringstream line(sources.substr(0, sources.find('\n')));
    for (std::string field; std::getline(line, field, ',');) fields.push_back(field);
    if (fields.size() >= 9 && fields[2] == "QGPS" && fields[5] != "0") break;
  }
  done = true;
  sending.join();
  monitor.Stop();
  daemon.Stop();
  ::shmctl(::shmget(0x4E545030 + unit, 0, 0), IPC_RMID, nullptr);
  ASSERT_GE(fields.size(), 9u) << ReadFile(folder.File("chronyd.err"))
                               << ReadFile(folder.File("monitor.err"));
  EXPECT_EQ(fields[2], "QGPS");
  EXPECT_NE(fields[5], "0");  // samples were taken
  // The local clock's offset from the reference: behind it by the receiver's lead, within the
  // delays of a pseudo-terminal and a loop.
  const double offset = std::stod(fields[8]);
  EXPECT_NEAR(offset, -kAhead, 0.2) << "raw offset " << fields[8];
}

}  // namespace
}  // namespace quorvane
