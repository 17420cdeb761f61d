// Track recording through the serial path, read back by real KML consumers (xmllint and
// gpsbabel), and the single-placemark file.

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdio>

#include "control/gps.hpp"
#include "sinks/track_recorder.hpp"
#include "support/fake_platform.hpp"
#include "support/files.hpp"
#include "support/pseudo_terminal.hpp"
#include "support/run_until.hpp"

namespace quorvane {
namespace {

using testing::CrLfLines;
using testing::ReadFile;
using Lines = std::vector<std::string>;

std::string Gga(const std::string& position, const std::string& altitude) {
  return "$GPGGA,123519," + position + ",1,08,0.9," + altitude + ",M,46.9,M,,*47\r\n";
}

// What a command prints on its standard output, and whether it ran to a zero exit.
std::pair<bool, std::string> RunCommand(const std::string& command) {
  std::string output;
  FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
  if (pipe == nullptr) return {false, output};
  std::array<char, 4096> buffer{};
  size_t length = 0;
  while ((length = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
    output.append(buffer.data(), length);
  }
  std::erase(output, '\r');  // gpsbabel ends its CSV lines in CR LF
  return {::pclose(pipe) == 0, output};
}

size_t Count(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

class RecordingTest : public ::testing::Test {
 protected:
  RecordingTest() {
    platform_.now = ClockReading{.year = 2026, .month = 12, .day = 7, .hour = 12, .minute = 30};
    gps_->Advise({.Error = [this](std::string& error) { errors_.push_back(error); },
                  .Stream = [this](std::string&) { ++streams_; }});
    gps_->Port(pty_.AssignTo(210));
    gps_->Start();
  }
  void Receive(const std::string& text) {
    pty_.Write(text);
    const size_t before = streams_;
    ASSERT_TRUE(testing::RunUntil(io_, [&] { return streams_ > before; }));
  }
  std::string Recorded() const { return ReadFile(file_); }

  asio::io_context io_;
  testing::FakePlatform platform_;
  testing::PseudoTerminal pty_;
  testing::ScratchFolder folder_;
  std::string file_ = folder_.File("drive.kml");
  std::unique_ptr<GPS> gps_ = std::make_unique<GPS>(io_, platform_);
  size_t streams_ = 0;
  std::vector<std::string> errors_;
};

TEST_F(RecordingTest, ARecordedDriveIsReadBackByXmllintAndGpsbabel) {
  gps_->StartKMLRecord(file_, "Morning drive");
  EXPECT_TRUE(gps_->isRecording());
  Receive(Gga("4807.038,N,01131.000,E", "545.4"));
  platform_.now.second = 1;
  Receive(Gga("4807.100,N,01131.050,E", "546.0"));
  platform_.now.second = 2;
  Receive(Gga("3352.050,S,15112.600,W", "-12.5"));
  gps_->StopKMLRecord();
  EXPECT_FALSE(gps_->isRecording());
  EXPECT_EQ(gps_->RecordedPoints(), 3);

  const Lines lines = CrLfLines(Recorded());
  EXPECT_EQ(lines[4], "  <name>Morning drive</name>");
  EXPECT_EQ(lines[7], "      <name>2026-12-07 12:30:00</name>");
  EXPECT_EQ(lines[10], "          <coordinates>11.5166666666667,48.1173,545.4</coordinates>");
  EXPECT_EQ(Count(Recorded(), "<Point>"), 3u);
  EXPECT_NE(Recorded().find("      <coordinates>\r\n11.5166666666667,48.1173,545.4\r\n"
                            "11.5175,48.1183333333333,546\r\n-151.21,-33.8675,-12.5\r\n"
                            "      </coordinates>\r\n"),
            std::string::npos);

  const auto [well_formed, ignored] = RunCommand("xmllint --noout " + file_);
  EXPECT_TRUE(well_formed);
  const auto [read_points, waypoints] =
      RunCommand("gpsbabel -i kml -f " + file_ + " -o unicsv -F -");
  ASSERT_TRUE(read_points);
  EXPECT_EQ(waypoints,
            "No,Latitude,Longitude,Name,Altitude\n"
            "1,48.117300,11.516667,\"2026-12-07 12:30:00\",545.4\n"
            "2,48.118333,11.517500,\"2026-12-07 12:30:01\",546.0\n"
            "3,-33.867500,-151.210000,\"2026-12-07 12:30:02\",-12.5\n");
  const auto [read_track, track] = RunCommand("gpsbabel -t -i kml -f " + file_ + " -o unicsv -F -");
  ASSERT_TRUE(read_track);
  EXPECT_EQ(track,
            "No,Latitude,Longitude,Altitude\n"
            "1,48.117300,11.516667,545.4\n"
            "2,48.118333,11.517500,546.0\n"
            "3,-33.867500,-151.210000,-12.5\n");
}

TEST_F(RecordingTest, SentencesWithoutAnAltitudeOrAPositionAreCountedButNotDrawn) {
  gps_->StartKMLRecord(file_);
  Receive(Gga("4807.038,N,99999.999,E", "1"));  // longitude 1000.67: not on the globe
  EXPECT_EQ(gps_->Longitude(), "1000.66665");   // what the sentence said, still shown
  Receive(Gga("9107.038,N,01131.000,E", "1"));  // latitude 91
  Receive(Gga("4807.038,N,01131.000,E", ""));
  Receive(Gga("4807.038,N,01131.000,E", "high"));
  Receive("$GPGGA,123520,,,,,0,00,,,M,,M,,*66\r\n");
  Receive(
      "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n"
      "$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1*39\r\n"
      "$GPGSV,3,3,11,22,42,067,42*4C\r\n");
  Receive(Gga("4807.038,N,01131.000,E", "1"));
  gps_->StopKMLRecord();
  EXPECT_EQ(gps_->RecordedPoints(), 6);
  EXPECT_EQ(Count(Recorded(), "<Point>"), 1u);
  EXPECT_EQ(std::system(("gpsbabel -i kml -f " + file_ + " -o unicsv -F /dev/null").c_str()), 0);
  EXPECT_EQ(Recorded().find(",0,0,"), std::string::npos);
  EXPECT_NE(Recorded().find("      <coordinates>\r\n11.5166666666667,48.1173,1\r\n      </coo"),
            std::string::npos);
  EXPECT_EQ(CrLfLines(Recorded())[4], "  <name></name>");
}

TEST_F(RecordingTest, StartAndStopWithNothingBetweenGiveAnEmptyPath) {
  gps_->StartKMLRecord(file_, "Empty");
  gps_->StopKMLRecord();
  EXPECT_NE(Recorded().find("      <coordinates>\r\n      </coordinates>\r\n"), std::string::npos);
  EXPECT_EQ(gps_->RecordedPoints(), 0);
  EXPECT_TRUE(RunCommand("xmllint --noout " + file_).first);
}

TEST_F(RecordingTest, ASecondRecordingKeepsCountingButDrawsOnlyItsOwnPoints) {
  gps_->StartKMLRecord(file_);
  Receive(Gga("0100.000,N,00100.000,E", "1"));
  gps_->StopKMLRecord();
  const std::string second = folder_.File("second.kml");
  gps_->StartKMLRecord(second);
  Receive(Gga("0200.000,N,00200.000,E", "2"));
  gps_->StopKMLRecord();
  EXPECT_EQ(gps_->RecordedPoints(), 2);
  EXPECT_NE(ReadFile(second).find("<coordinates>\r\n2,2,2\r\n"), std::string::npos);
  EXPECT_EQ(ReadFile(second).find("1,1,1"), std::string::npos);
}

TEST_F(RecordingTest, StartingWhileRecordingFinishesTheRunningFileFirst) {
  gps_->StartKMLRecord(file_);
  Receive(Gga("0100.000,N,00100.000,E", "1"));
  const std::string second = folder_.File("second.kml");
  gps_->StartKMLRecord(second);
  EXPECT_TRUE(gps_->isRecording());
  EXPECT_TRUE(RunCommand("xmllint --noout " + file_).first);
  EXPECT_NE(Recorded().find("<coordinates>\r\n1,1,1\r\n      </coordinates>"), std::string::npos);
  Receive(Gga("0200.000,N,00200.000,E", "2"));
  gps_->StopKMLRecord();
  EXPECT_NE(ReadFile(second).find("<coordinates>\r\n2,2,2\r\n      </coordinates>"),
            std::string::npos);
}

TEST_F(RecordingTest, DestroyingTheControlWhileRecordingFinishesTheDocument) {
  gps_->StartKMLRecord(file_);
  Receive(Gga("0100.000,N,00100.000,E", "1"));
  gps_.reset();
  EXPECT_TRUE(RunCommand("xmllint --noout " + file_).first);
  EXPECT_NE(Recorded().find("<coordinates>\r\n1,1,1\r\n      </coordinates>"), std::string::npos);
}

TEST_F(RecordingTest, StopWithoutStartWritesNothing) {
  gps_->StopKMLRecord();
  EXPECT_FALSE(gps_->isRecording());
  EXPECT_FALSE(std::filesystem::exists(file_));
}

TEST_F(RecordingTest, ARecordingThatCannotBeWrittenSaysSoOnceStopsAndTouchesNothingElse) {
  const std::string missing = folder_.File("missing/folder/drive.kml");
  gps_->StartKMLRecord(missing);
  EXPECT_FALSE(gps_->isRecording());
  EXPECT_EQ(errors_, (Lines{"Cannot open " + missing + ": No such file or directory"}));
  Receive(Gga("0100.000,N,00100.000,E", "1"));
  EXPECT_EQ(gps_->RecordedPoints(), 0);  // nothing counted that was never written
  EXPECT_FALSE(std::filesystem::exists(folder_.File("missing")));

  // A folder or a FIFO at the path is not deleted, nor opened.
  const std::string folder = folder_.File("a-folder.kml");
  const std::string fifo = folder_.File("a-fifo.kml");
  std::filesystem::create_directory(folder);
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {folder, fifo}) {
    errors_.clear();
    gps_->StartKMLRecord(path);
    EXPECT_FALSE(gps_->isRecording());
    EXPECT_EQ(errors_, (Lines{"Cannot record to " + path + ": not a regular file"}));
  }
  EXPECT_TRUE(std::filesystem::is_directory(folder));
  EXPECT_TRUE(std::filesystem::is_fifo(fifo));

  // Nor is a file reached through a symbolic link or another name of it (a hard link), which
  // would be replaced by the track.
  const std::string victim = folder_.File("victim.txt");
  std::ofstream(victim) << "kept";
  const std::string soft = folder_.File("soft.kml");
  const std::string hard = folder_.File("hard.kml");
  std::filesystem::create_symlink(victim, soft);
  std::filesystem::create_hard_link(victim, hard);
  for (const auto& [path, why] : {std::pair{soft, "it is a symbolic link"},
                                  std::pair{hard,
                                            "it has other names (hard links) whose file "
                                            "it would replace"}}) {
    errors_.clear();
    gps_->StartKMLRecord(path);
    EXPECT_FALSE(gps_->isRecording());
    EXPECT_EQ(errors_, (Lines{"Cannot record to " + path + ": " + why}));
  }
  EXPECT_EQ(testing::ReadFile(victim), "kept");

  // A second recorder of a file being recorded is refused; the first goes on undisturbed.
  const std::string shared = folder_.File("shared.kml");
  errors_.clear();
  gps_->StartKMLRecord(shared);
  ASSERT_TRUE(gps_->isRecording());
  Receive(Gga("0100.000,N,00100.000,E", "1"));
  GPS second(io_, platform_);
  std::vector<std::string> second_errors;
  second.Advise({.Error = [&](std::string& text) { second_errors.push_back(text); }});
  second.StartKMLRecord(shared);
  EXPECT_FALSE(second.isRecording());
  EXPECT_EQ(second_errors,
            (Lines{"Cannot record to " + shared + ": another recording is writing to it"}));
  Receive(Gga("0100.000,N,00100.000,E", "2"));
  gps_->StopKMLRecord();
  EXPECT_TRUE(errors_.empty());
  EXPECT_EQ(std::system(("xmllint --noout " + shared).c_str()), 0);
}

TEST_F(RecordingTest, AFullDiskStopsTheRecordingWithOneError) {
  const std::string tiny = folder_.File("tiny");
  const testing::SmallFileSystem disk(tiny);
  if (!disk.Mounted()) GTEST_SKIP() << "no right to mount a small file system here";
  const std::string file = tiny + "/drive.kml";
  gps_->StartKMLRecord(file);
  std::string block;  // less than a pseudo-terminal holds
  for (int i = 0; i < 12; ++i) block += Gga("0100.000,N,00100.000,E", std::to_string(i));
  for (int i = 0; i < 100 && gps_->isRecording(); ++i) Receive(block);
  EXPECT_FALSE(gps_->isRecording());
  EXPECT_EQ(errors_, (Lines{"Cannot write " + file + ": No space left on device"}));
  const double counted = gps_->RecordedPoints();
  Receive(block);
  EXPECT_EQ(gps_->RecordedPoints(), counted);
}

TEST_F(RecordingTest, AHostKilledWhileRecordingLeavesEveryPlacemarkOnDisk) {
  gps_.reset();
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The recording host: it reports after each decoded block and is then killed.
    GPS host(io_, platform_);
    host.Advise({.Stream = [&](std::string&) {
      const char points = static_cast<char>(host.RecordedPoints());
      if (::write(ready[1], &points, 1) != 1) ::_exit(2);
    }});
    host.Port(210);
    host.StartKMLRecord(file_);
    host.Start();
    io_.restart();
    io_.run();
    ::_exit(1);
  }
  ::close(ready[1]);
  char points = 0;
  for (int i = 1; i <= 5; ++i) {
    const std::string latitude = std::to_string(100 + i).substr(1);  // "01" to "05"
    pty_.Write(Gga(latitude + "00.000,N,00100.000,E", std::to_string(i)));
    ASSERT_EQ(::read(ready[0], &points, 1), 1);
    ASSERT_EQ(points, i);
  }
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  ::close(ready[0]);
  EXPECT_EQ(Count(Recorded(), "</Placemark>"), 5u);
  EXPECT_NE(Recorded().find("<coordinates>1,5,5</coordinates>"), std::string::npos);

  // The path's spool is left behind; the next recording to the file takes it over, empty.
  const std::string spool = KmlWriter::SpoolPathOf(file_);
  ASSERT_TRUE(std::filesystem::exists(spool));
  gps_ = std::make_unique<GPS>(io_, platform_);
  gps_->Advise({.Stream = [this](std::string&) { ++streams_; }});
  gps_->Port(210);
  gps_->Start();
  gps_->StartKMLRecord(file_);
  Receive(Gga("0900.000,N,00100.000,E", "9"));
  gps_->StopKMLRecord();
  EXPECT_EQ(Count(Recorded(), "</Placemark>"), 2u);  // the point and the path
  EXPECT_NE(Recorded().find("<coordinates>\r\n1,9,9\r\n"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(spool));
}

TEST_F(RecordingTest, TheSinglePlacemarkFileHoldsTheCurrentPosition) {
  const std::string placemark = folder_.File("here.kml");
  gps_->CreateGoogleEarthPlaceMark(placemark, "", "");
  EXPECT_EQ(CrLfLines(ReadFile(placemark))[13], "<coordinates>,,0</coordinates>");
  Receive(Gga("3843.200,N,00908.400,W", "104.5"));
  std::ofstream(placemark) << std::string(4000, 'x');  // replaced whole
  gps_->CreateGoogleEarthPlaceMark(placemark, "Lisbon & <b>", "R&D");
  EXPECT_EQ(CrLfLines(ReadFile(placemark)),
            (Lines{R"(<?xml version="1.0" encoding="UTF-8"?>)",
                   R"(<kml xmlns="http://earth.google.com/kml/2.0">)", "<Placemark>",
                   "<description>Lisbon &amp; &lt;b&gt;</description>", "<name>R&amp;D</name>",
                   "<LookAt>", "<longitude>-9.14</longitude>", "<latitude>38.72</latitude>",
                   "<range>100</range>", "<tilt>0</tilt>", "<heading>0</heading>", "</LookAt>",
                   "<Point>", "<coordinates>-9.14,38.72,0</coordinates>", "</Point>",
                   "<visibility>0</visibility>", "</Placemark>", "</kml>"}));
  gps_->CreateGoogleEarthPlaceMark(placemark, "Lisbon", "Here");
  const auto [read, waypoints] = RunCommand("gpsbabel -i kml -f " + placemark + " -o unicsv -F -");
  ASSERT_TRUE(read);
  EXPECT_NE(waypoints.find("38.720000,-9.140000,\"Here\""), std::string::npos) << waypoints;
  EXPECT_EQ(std::system(("xmllint --noout " + placemark).c_str()), 0);
  EXPECT_TRUE(errors_.empty());
  // Written beside itself and renamed: no temporary file stays behind.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_.File("")), {}), 1);

  const std::string nowhere = folder_.File("no/such/folder.kml");
  gps_->CreateGoogleEarthPlaceMark(nowhere, "", "");
  EXPECT_FALSE(std::filesystem::exists(folder_.File("no")));
  const std::string folder = folder_.File("folder.kml");
  std::filesystem::create_directory(folder);
  gps_->CreateGoogleEarthPlaceMark(folder, "", "");
  EXPECT_TRUE(std::filesystem::is_directory(folder));
  EXPECT_EQ(errors_, (Lines{"Cannot write " + nowhere + ": No such file or directory",
                            "Cannot write " + folder + ": not a regular file"}));
}

}  // namespace
}  // namespace quorvane
