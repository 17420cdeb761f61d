#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <stdexcept>

#include "control/gps.hpp"
#include "platform/port_table.hpp"
#include "support/fake_platform.hpp"
#include "support/files.hpp"
#include "support/pseudo_terminal.hpp"
#include "support/run_until.hpp"

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using testing::FakePlatform;
using testing::PseudoTerminal;
using testing::RunFor;
using testing::RunUntil;

// GSA sentences differ in their HDOP, so the fix shows which one was decoded last.
std::string Gsa(const std::string& hdop) {
  return "$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5," + hdop + ",2.1*39\r\n";
}

struct Events {
  std::vector<std::string> errors;
  std::vector<int16_t> ports;
  std::vector<std::string> streams;

  GpsEventSink Sink() {
    return {[this](std::string& d) { errors.push_back(d); },
            [this](int16_t& n) { ports.push_back(n); },
            [this](std::string& d) { streams.push_back(d); }};
  }
};

class GpsSerialTest : public ::testing::Test {
 protected:
  GpsSerialTest() { gps_.Advise(events_.Sink()); }

  void StartOnPty() {
    gps_.Port(pty_.AssignTo(kNumber));
    gps_.Start();
    ASSERT_TRUE(gps_.Engine());
  }
  bool WaitForStreams(size_t count) {
    return RunUntil(io_, [&] { return events_.streams.size() >= count; });
  }

  static constexpr int16_t kNumber = 240;
  asio::io_context io_;
  FakePlatform platform_;
  PseudoTerminal pty_;
  GPS gps_{io_, platform_};
  Events events_;
};

TEST_F(GpsSerialTest, AFreshControlHoldsItsInitialSettings) {
  EXPECT_EQ(gps_.Port(), 0);
  EXPECT_EQ(gps_.TxPort(), 0);
  EXPECT_EQ(gps_.RxPort(), 0);
  EXPECT_EQ(gps_.ServerIP(), 0);
  EXPECT_FALSE(gps_.Broadcast());
  EXPECT_EQ(gps_.BroadcastAddress(), "");
  EXPECT_FALSE(gps_.Engine());
  EXPECT_EQ(gps_.PortSettings(), "4800,n,8,1");
  EXPECT_EQ(gps_.Version(), "5.4.88");
  EXPECT_EQ(gps_.EngineVersion(), gps_.Version());
  gps_.TxPort(5001);
  gps_.RxPort(5002);
  gps_.ServerIP(-7);
  gps_.Broadcast(true);
  gps_.BroadcastAddress("127.0.0.1");
  EXPECT_EQ(gps_.TxPort(), 5001);
  EXPECT_EQ(gps_.RxPort(), 5002);
  EXPECT_EQ(gps_.ServerIP(), -7);
  EXPECT_TRUE(gps_.Broadcast());
  EXPECT_EQ(gps_.BroadcastAddress(), "127.0.0.1");
}

TEST_F(GpsSerialTest, ARefusedPortSettingsTextKeepsTheOldOneQuietly) {
  gps_.PortSettings("9600,n,8,1");
  gps_.PortSettings("9600,x,8,1");
  gps_.PortSettings("fast");
  EXPECT_EQ(gps_.PortSettings(), "9600,n,8,1");
  StartOnPty();
  gps_.PortSettings("19200,e,8,1");
  EXPECT_EQ(gps_.PortSettings(), "19200,e,8,1");
  gps_.PortSettings("19200,e,7,1");  // a pseudo-terminal carries 8 data bits only
  EXPECT_EQ(gps_.PortSettings(), "19200,e,8,1");
  EXPECT_TRUE(events_.errors.empty());
}

TEST_F(GpsSerialTest, StartWithPortZeroRaisesErrorOnceAndStaysRunning) {
  gps_.Start();
  EXPECT_EQ(events_.errors, (std::vector<std::string>{"Invalid port number"}));
  EXPECT_FALSE(gps_.Engine());
  gps_.Start();  // running: nothing happens
  EXPECT_EQ(events_.errors.size(), 1u);
  gps_.StopGPS();
  gps_.Port(pty_.AssignTo(kNumber));
  gps_.Start();
  EXPECT_TRUE(gps_.Engine());
  EXPECT_EQ(events_.errors.size(), 1u);
}

TEST_F(GpsSerialTest, StartReportsTheDeviceThatCannotBeOpened) {
  AssignPort(241, "/dev/gps-unplugged");
  gps_.Port(241);
  gps_.Start();
  EXPECT_EQ(events_.errors,
            (std::vector<std::string>{"Cannot open serial port /dev/gps-unplugged: No such file or "
                                      "directory"}));
  EXPECT_FALSE(gps_.Engine());
  AssignPort(241, "");
}

TEST_F(GpsSerialTest, ASecondControlOnTheSamePortGetsTheBusyError) {
  StartOnPty();
  GPS second(io_, platform_);
  Events second_events;
  second.Advise(second_events.Sink());
  second.Port(kNumber);
  second.Start();
  ASSERT_EQ(second_events.errors.size(), 1u);
  EXPECT_NE(second_events.errors[0].find("already in use"), std::string::npos);
  EXPECT_FALSE(second.Engine());
}

TEST_F(GpsSerialTest, DecodesEverySentenceOfABlockBeforeOneStream) {
  StartOnPty();
  std::string hdop_seen_by_host;
  gps_.Advise({.Stream = [&](std::string&) { hdop_seen_by_host = gps_.Fix().HdopText; }});
  const std::string block = Gsa("1.3") + Gsa("1.7");
  pty_.Write(block);
  ASSERT_TRUE(WaitForStreams(1));
  EXPECT_EQ(events_.streams, (std::vector<std::string>{block}));
  EXPECT_EQ(hdop_seen_by_host, "1.7");
}

TEST_F(GpsSerialTest, ASentenceSplitOverThreeBlocksIsDecodedOnceWithThreeStreams) {
  StartOnPty();
  const std::string sentence = Gsa("0.8");
  const std::vector<std::string> pieces{sentence.substr(0, 12), sentence.substr(12, 20),
                                        sentence.substr(32)};
  for (size_t i = 0; i < pieces.size(); ++i) {
    EXPECT_EQ(gps_.Fix().HdopText, "");
    pty_.Write(pieces[i]);
    ASSERT_TRUE(WaitForStreams(i + 1));
  }
  EXPECT_EQ(events_.streams, pieces);
  EXPECT_EQ(gps_.Fix().HdopText, "0.8");
}

TEST_F(GpsSerialTest, LineFeedOnlyTextRaisesStreamButIsNeverDecoded) {
  StartOnPty();
  pty_.Write("$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1*39\n");
  ASSERT_TRUE(WaitForStreams(1));
  EXPECT_EQ(gps_.Fix().HdopText, "");
}

TEST_F(GpsSerialTest, SettingPortWhileRunningDoesNotMoveTheOpenPort) {
  StartOnPty();
  gps_.Port(0);
  EXPECT_TRUE(gps_.Engine());
  pty_.Write(Gsa("2.2"));
  ASSERT_TRUE(WaitForStreams(1));
  EXPECT_EQ(gps_.Fix().HdopText, "2.2");
}

TEST_F(GpsSerialTest, SendCommandWritesExactlyTheGivenCharacters) {
  gps_.SendCommand("$PMTK101*32\r\n");  // not open: lost without a word
  StartOnPty();
  gps_.SendCommand("$PMTK220,200*2C");
  EXPECT_EQ(pty_.Read(), "$PMTK220,200*2C");
  EXPECT_TRUE(events_.errors.empty());
}

TEST_F(GpsSerialTest, StopGpsClosesThePortAndADestroyedControlReleasesIt) {
  StartOnPty();
  gps_.StopGPS();
  EXPECT_FALSE(gps_.Engine());
  gps_.StopGPS();
  {
    GPS other(io_, platform_);
    other.Port(kNumber);
    other.Start();
    EXPECT_TRUE(other.Engine());
  }  // destruction stops it
  gps_.Start();
  EXPECT_TRUE(gps_.Engine());
  EXPECT_TRUE(events_.errors.empty());
}

TEST_F(GpsSerialTest, AnUnpluggedReceiverStopsQuietlyAndStopGpsStillWorks) {
  StartOnPty();
  pty_.Write(Gsa("1.1"));
  ASSERT_TRUE(WaitForStreams(1));
  pty_.CloseMaster();
  ASSERT_TRUE(RunUntil(io_, [&] { return !gps_.Engine(); }));
  EXPECT_LT(RunFor(io_, 200ms), 5u);
  EXPECT_TRUE(events_.errors.empty());
  EXPECT_EQ(gps_.Fix().HdopText, "1.1");
  gps_.StopGPS();
  EXPECT_FALSE(gps_.Engine());
}

// A receiver named by a serial: address is waited for until it is plugged in, and again after
// it was unplugged, under the stable name udev gives it (a link to whichever device it is now).
TEST(GpsSerialAddress, WaitsForItsDeviceAndComesBackAfterAnUnplug) {
  asio::io_context io;
  FakePlatform platform;
  GPS gps(io, platform);
  std::vector<std::pair<std::string, NoticeKind>> notices;
  gps.Advise({.Notice = [&](const std::string& what, NoticeKind kind) {
    notices.emplace_back(what, kind);
  }});
  const testing::ScratchFolder folder;
  const std::string link = folder.File("gps0");
  gps.OpenSource("serial:" + link);
  ASSERT_TRUE(RunUntil(io, [&] { return !notices.empty(); }));
  EXPECT_EQ(notices[0].second, NoticeKind::kSourceLost);
  EXPECT_NE(notices[0].first.find("Cannot connect to serial:" + link), std::string::npos);
  // Each new device gets GSAs until one is decoded (what is written before the port opens may be
  // dropped when the port's settings are applied).
  const auto plug_in = [&](PseudoTerminal& receiver, const std::string& hdop) {
    std::filesystem::remove(link);
    std::filesystem::create_symlink(receiver.SlavePath(), link);
    int turns = 0;
    return RunUntil(io, [&] {
      if (turns++ % 25 == 0) receiver.Write(Gsa(hdop));
      return gps.Fix().HdopText == hdop;
    });
  };
  PseudoTerminal first;
  ASSERT_TRUE(plug_in(first, "1.1"));
  EXPECT_TRUE(gps.Engine());
  const size_t said = notices.size();
  first.CloseMaster();
  ASSERT_TRUE(RunUntil(io, [&] { return notices.size() > said; }));
  EXPECT_EQ(notices[said].second, NoticeKind::kSourceLost);
  EXPECT_NE(notices[said].first.find("lost: the device went away"), std::string::npos);
  PseudoTerminal second;
  ASSERT_TRUE(plug_in(second, "2.2"));
  // Said once a loss, not once a try.
  EXPECT_EQ(notices.size(), said + 1);
  gps.StopGPS();
}

TEST_F(GpsSerialTest, ASourceWithoutLineEndsCannotStopDecoding) {
  StartOnPty();
  // Written a piece at a time with the loop running, as a receiver's text arrives.
  const std::string flood(2048, '$');
  for (int i = 0; i < 64; ++i) {
    pty_.Write(flood);
    RunFor(io_, 2ms);
  }
  pty_.Write("\r\n" + Gsa("3.3"));
  ASSERT_TRUE(RunUntil(io_, [&] { return gps_.Fix().HdopText == "3.3"; }));
}

TEST_F(GpsSerialTest, EnumSerialPortsRaisesOneEventPerListedNumberInOrder) {
  platform_.serial_ports = "3,1,10";
  gps_.EnumSerialPorts();
  EXPECT_EQ(events_.ports, (std::vector<int16_t>{3, 1, 10}));
  events_.ports.clear();
  platform_.serial_ports = "";
  gps_.EnumSerialPorts();
  EXPECT_TRUE(events_.ports.empty());
  platform_.serial_ports = " 7,x,99999,-2";
  gps_.EnumSerialPorts();
  EXPECT_EQ(events_.ports, (std::vector<int16_t>{7, 0, -2}));
}

TEST_F(GpsSerialTest, EveryAdvisedSinkHearsEventsUntilUnadvised) {
  Events second;
  const int cookie = gps_.Advise(second.Sink());
  platform_.serial_ports = "4";
  gps_.EnumSerialPorts();
  gps_.Unadvise(cookie);
  gps_.EnumSerialPorts();
  EXPECT_EQ(events_.ports, (std::vector<int16_t>{4, 4}));
  EXPECT_EQ(second.ports, (std::vector<int16_t>{4}));
}

TEST_F(GpsSerialTest, AHandlerMayUnadviseItselfAndAdviseOthersWhileRaised) {
  int calls = 0;
  int late_calls = 0;
  int cookie = 0;
  cookie = gps_.Advise({.SerialPort = [&](int16_t&) {
    ++calls;
    gps_.Unadvise(cookie);
    for (int i = 0; i < 20; ++i) gps_.Advise({.SerialPort = [&](int16_t&) { ++late_calls; }});
  }});
  int skipped = 0;
  gps_.Advise({.SerialPort = [&](int16_t&) { gps_.Unadvise(skipped); }});
  skipped = gps_.Advise({.SerialPort = [&](int16_t&) { ADD_FAILURE() << "unadvised already"; }});
  platform_.serial_ports = "1";
  gps_.EnumSerialPorts();
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(late_calls, 0);  // advised during the event: heard from the next one on
  gps_.EnumSerialPorts();
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(late_calls, 20);
}

class RecordingSite : public ControlSite {
 public:
  float TwipsPerPixelX() const override { return 15; }
  float TwipsPerPixelY() const override { return 12; }
  void Width(float twips) override { width = twips; }
  void Height(float twips) override {
    if (refuse_height) throw std::runtime_error("height is fixed");
    height = twips;
  }
  bool refuse_height = false;
  float width = 0;
  float height = 0;
};

TEST_F(GpsSerialTest, KeepsItselfAtThirtyTwoPixelsSquare) {
  RecordingSite site;
  gps_.Resize(site);
  EXPECT_EQ(site.width, 480);
  EXPECT_EQ(site.height, 384);
  RecordingSite fixed_height;
  fixed_height.refuse_height = true;
  gps_.Resize(fixed_height);
  EXPECT_EQ(fixed_height.width, 480);
}

TEST(GpsFace, IsAThirtyTwoPixelSquareOfTwentyFourBitColour) {
  const Face& face = GPS::Picture();
  EXPECT_EQ(face.rgb.size(), 3072u);
  // Corner background, globe and the red centre mark all differ.
  EXPECT_NE(face.rgb[0], face.rgb[(16 * 32 + 16) * 3]);
  EXPECT_GT(face.rgb[(16 * 32 + 16) * 3], 200);
}

}  // namespace
}  // namespace quorvane
