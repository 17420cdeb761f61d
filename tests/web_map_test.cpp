// The live map as a person sees it: gps-monitor --web on a replay and on a fleet, the page loaded
// by headless Chromium (which reaches nothing but 127.0.0.1), its state read from the DOM it ends
// with: the marker, the track, the lost fix, the vehicles.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <map>
#include <thread>

#include "apps/nmea_simulator.hpp"
#include "support/files.hpp"
#include "support/mosquitto_broker.hpp"
#include "support/programs.hpp"

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using testing::ReadFile;

// The page at `url` after its scripts ran for a while, as Chromium's DOM; empty without one.
std::string LoadedPage(const std::string& url, const std::string& scratch) {
  const pid_t pid = testing::SpawnProgram(
      {"chromium", "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
       "--disable-background-networking", "--disable-component-update", "--disable-sync",
       "--disable-extensions",
       // Every name fails to resolve: whatever the page or the browser wanted elsewhere.
       "--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1", "--virtual-time-budget=2000",
       "--dump-dom", url},
      scratch, "/dev/null");
  // A browser that hangs is stopped after a minute (and dies with the test in any case).
  testing::WaitAtMost(pid, 60s);
  return ReadFile(scratch);
}

// The attributes of an element's opening tag: name="value" pairs.
std::map<std::string, std::string> Attributes(const std::string& element) {
  std::map<std::string, std::string> attributes;
  for (size_t equals = element.find("=\""); equals != std::string::npos;
       equals = element.find("=\"", equals + 1)) {
    const size_t name = element.rfind(' ', equals) + 1;
    const size_t end = element.find('"', equals + 2);
    if (end == std::string::npos) break;
    attributes[element.substr(name, equals - name)] = element.substr(equals + 2, end - equals - 2);
    equals = end;
  }
  return attributes;
}

std::string FirstTag(const std::string& page, const std::string& opening) {
  const size_t start = page.find(opening);
  return start == std::string::npos ? "" : page.substr(start, page.find('>', start) - start);
}

class WebMapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::RunProgram({"chromium", "--version"})) {
      GTEST_SKIP() << "chromium is not installed (scripts/setup.sh --tests)";
    }
  }
  std::string WriteDrive(const std::string& name, simulator::DriveOptions options) {
    simulator::NmeaSimulator drive(options);
    const std::string path = folder_.File(name);
    std::ofstream log(path, std::ios::binary);
    for (size_t fix = 0; fix < drive.FixCount(); ++fix) log << drive.Sentences(fix);
    return path;
  }
  pid_t Monitor(std::vector<std::string> arguments, const std::string& name) {
    arguments.insert(arguments.begin(), GPS_MONITOR);
    return testing::SpawnProgram(arguments, folder_.File(name + ".out"),
                                 folder_.File(name + ".err"));
  }
  static void Stop(pid_t pid) {
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
  }

  testing::ScratchFolder folder_;
};

TEST_F(WebMapTest, TheReceiversMarkerTrackAndLostFixAreWhatTheDriveImplies) {
  // Twice real time, without a fix from second 12 to 36. The drive runs long after the loss, so
  // that gps-monitor still serves when page loads are slow (each is a browser start-up); the loss
  // lasts 12 s of the clock, so that a page opens during it even when start-ups take several
  // seconds each (beside the sanitized cluster tests, a loss of 6 s could pass between two); the
  // test ends as soon as a page has shown the fix come back.
  simulator::DriveOptions options;
  options.duration_s = 240;
  options.fix_loss_s = std::pair{12.0, 36.0};
  const std::string log = WriteDrive("drive.nmea", options);
  simulator::NmeaSimulator truth(options);
  const pid_t monitor = Monitor(
      {"--replay", log, "--speed", "2", "--web", "127.0.0.1:0", "--tiles", "none"}, "monitor");
  const uint16_t port = testing::ServedPort(folder_.File("monitor.err"), "map", monitor);
  ASSERT_NE(port, 0) << ReadFile(folder_.File("monitor.err"));

  // Pages opened one after another through the drive: each is sent the track so far at once.
  bool saw_fix = false;
  bool saw_outage = false;
  bool saw_return = false;
  const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/";
  for (int load = 0; load < 60 && !saw_return; ++load) {
    const std::string page = LoadedPage(url, folder_.File("page.html"));
    auto body = Attributes(FirstTag(page, "<body"));
    ASSERT_EQ(body["data-state"], "connected") << page.substr(0, 2000);
    if (body["data-time"].empty()) continue;
    // Seconds since 12:00:00, the drive's start.
    const int second = std::stoi(body["data-time"].substr(17, 2)) +
                       60 * std::stoi(body["data-time"].substr(14, 2));
    size_t fixes_so_far = 0;
    for (size_t fix = 0; fix <= static_cast<size_t>(second); ++fix) {
      fixes_so_far += truth.HasFix(fix) ? 1 : 0;
    }
    SCOPED_TRACE("page at " + body["data-time"]);
    EXPECT_EQ(body["data-track-points"], std::to_string(fixes_so_far));
    if (truth.HasFix(static_cast<size_t>(second))) {
      EXPECT_EQ(body["data-fix"], "fix");
      const simulator::Waypoint at = truth.TruePosition(static_cast<size_t>(second));
      EXPECT_NEAR(std::stod(body["data-marker-lat"]), at.latitude, 1e-4);
      EXPECT_NEAR(std::stod(body["data-marker-lon"]), at.longitude, 1e-4);
      saw_fix = true;
      saw_return = saw_outage;
    } else {
      EXPECT_EQ(body["data-fix"], "no fix");
      EXPECT_NE(page.find("no fix since 12:00:11"), std::string::npos);
      saw_outage = true;
    }
  }
  Stop(monitor);
  EXPECT_TRUE(saw_fix);
  EXPECT_TRUE(saw_outage);
  EXPECT_TRUE(saw_return);
}

TEST_F(WebMapTest, AFleetsThreeVehiclesAreListedWhereTheirLogsEnd) {
  testing::MosquittoBroker broker(folder_.File(""));
  ASSERT_TRUE(broker.Start()) << "mosquitto is not installed (scripts/setup.sh --tests)";
  const pid_t consumer = Monitor(
      {"--source", broker.Address("fleet/+/nmea"), "--web", "127.0.0.1:0", "--tiles", "none"},
      "consumer");
  const uint16_t port = testing::ServedPort(folder_.File("consumer.err"), "map", consumer);
  ASSERT_NE(port, 0) << ReadFile(folder_.File("consumer.err"));

  std::map<std::string, simulator::Waypoint> ends;
  for (const int car : {1, 2, 3}) {
    simulator::DriveOptions options;
    options.duration_s = 30;
    options.speed_kmh = 20.0 * car;  // each ends elsewhere on the loop
    const std::string log = WriteDrive("car" + std::to_string(car) + ".nmea", options);
    ends["fleet/car" + std::to_string(car) + "/nmea"] =
        simulator::NmeaSimulator(options).TruePosition(29);
    // The publisher waits for the broker before it replays, so the whole drive goes out.
    const pid_t publisher = Monitor({"--replay", log, "--speed", "max", "--publish",
                                     broker.Address("fleet/car" + std::to_string(car))},
                                    "publisher");
    int status = 0;
    ::waitpid(publisher, &status, 0);
    ASSERT_EQ(status, 0) << ReadFile(folder_.File("publisher.err"));
  }

  // A vehicle named by its publisher with markup: the page shows the name and runs nothing.
  const std::string hostile = "fleet/<img src=x onerror=\"document.body.dataset.ran=1\">/nmea";
  ASSERT_TRUE(testing::RunProgram(
      {"mosquitto_pub", "-h", "127.0.0.1", "-p", std::to_string(broker.Port()), "-t", hostile, "-q",
       "1", "-m",
       "$GPGGA,120000.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*67\r\n"
       "$GPGGA,120001.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*66\r\n"}));

  std::string page;
  size_t rows = 0;
  for (int load = 0; load < 10 && rows < 4; ++load) {
    page = LoadedPage("http://127.0.0.1:" + std::to_string(port) + "/", folder_.File("page.html"));
    rows = 0;
    for (size_t at = page.find("<tr data-device="); at != std::string::npos;
         at = page.find("<tr data-device=", at + 1)) {
      ++rows;
    }
  }
  Stop(consumer);
  ASSERT_EQ(rows, 4u) << page.substr(0, 3000);
  EXPECT_EQ(Attributes(FirstTag(page, "<body"))["data-ran"], "");
  EXPECT_NE(page.find("&lt;img src=x onerror="), std::string::npos) << page.substr(0, 3000);
  for (const auto& [device, end] : ends) {
    SCOPED_TRACE(device);
    auto row = Attributes(FirstTag(page, "<tr data-device=\"" + device + "\""));
    ASSERT_FALSE(row["data-lat"].empty()) << page.substr(0, 3000);
    EXPECT_NEAR(std::stod(row["data-lat"]), end.latitude, 1e-4);
    EXPECT_NEAR(std::stod(row["data-lon"]), end.longitude, 1e-4);
  }
  EXPECT_EQ(FirstTag(page, "<section id=\"fleet\"").find("hidden"), std::string::npos);
}

}  // namespace
}  // namespace quorvane
