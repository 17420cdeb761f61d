// One receiver, many controls: the rebroadcast and the UDP source over real sockets on
// 127.0.0.1, with a pseudo-terminal as the receiver.

#include <gtest/gtest.h>

#include <random>

#include "control/gps.hpp"
#include "platform/socket_comm.hpp"
#include "support/fake_platform.hpp"
#include "support/pseudo_terminal.hpp"
#include "support/run_until.hpp"
#include "support/udp_peer.hpp"

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using testing::AsPortNumber;
using testing::RunFor;
using testing::RunUntil;
using testing::UdpPeer;

constexpr const char* kGga =
    "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n";
constexpr const char* kRmc =
    "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n";

// A control with the events it raised.
struct Control {
  explicit Control(asio::io_context& io, Platform& platform) : gps(io, platform) {
    gps.Advise({.Error = [this](std::string& d) { errors.push_back(d); },
                .Stream = [this](std::string& d) { streams.push_back(d); }});
  }
  GPS gps;
  std::vector<std::string> errors;
  std::vector<std::string> streams;
};

class GpsUdpTest : public ::testing::Test {
 protected:
  // A reads the pseudo-terminal and rebroadcasts to 127.0.0.1:port.
  void StartSender(uint16_t port, const std::string& address = "127.0.0.1") {
    a_.gps.Port(pty_.AssignTo(220));
    a_.gps.Broadcast(true);
    a_.gps.BroadcastAddress(address);
    a_.gps.TxPort(AsPortNumber(port));
    a_.gps.Start();
    ASSERT_TRUE(a_.gps.Engine());
  }
  bool WaitFor(const Control& control, size_t streams) {
    return RunUntil(io_, [&] { return control.streams.size() >= streams; });
  }

  asio::io_context io_;
  testing::FakePlatform platform_;
  testing::PseudoTerminal pty_;
  Control a_{io_, platform_};
  Control b_{io_, platform_};
};

TEST_F(GpsUdpTest, ASecondControlDecodesWhatTheFirstReadsFromItsReceiver) {
  const uint16_t port = UdpPeer::FreePort();
  b_.gps.Connect(AsPortNumber(port));
  StartSender(port);
  ASSERT_TRUE(WaitFor(b_, 1));  // setting up the sender sends an empty datagram
  EXPECT_EQ(b_.streams[0], "");

  const std::vector<std::string> blocks{std::string(kGga) + kRmc, "$GPGSA,A,3,04,05,,09,12,,,24,",
                                        ",,,,2.5,1.3,2.1*39\r\n"};
  for (size_t i = 0; i < blocks.size(); ++i) {
    pty_.Write(blocks[i]);
    ASSERT_TRUE(WaitFor(a_, i + 1));
    ASSERT_TRUE(WaitFor(b_, i + 2));
  }
  EXPECT_EQ(a_.streams, blocks);
  EXPECT_EQ(std::vector<std::string>(b_.streams.begin() + 1, b_.streams.end()), blocks);
  for (const GPS* gps : {&a_.gps, &b_.gps}) {
    EXPECT_EQ(gps->Latitude(), "48.1173");
    EXPECT_EQ(gps->Speed(), "41.4848");
    EXPECT_EQ(gps->HDOP(), "1.3");
  }
  EXPECT_FALSE(b_.gps.Engine());  // a UDP source is no serial engine
}

TEST_F(GpsUdpTest, TheSenderSendsAnEmptyDatagramThenExactlyOnePerBlock) {
  UdpPeer listener;
  StartSender(listener.Port());
  EXPECT_EQ(listener.Receive(), "");
  pty_.Write(kGga);
  ASSERT_TRUE(WaitFor(a_, 1));
  EXPECT_EQ(listener.Receive(), kGga);
  EXPECT_EQ(listener.Receive(100ms), std::nullopt);
}

TEST_F(GpsUdpTest, WhatTheStreamHandlerLeavesIsWhatGoesOut) {
  UdpPeer listener;
  a_.gps.Advise({.Stream = [](std::string& data) { data = "replaced"; }});
  StartSender(listener.Port());
  EXPECT_EQ(listener.Receive(), "");
  pty_.Write(kGga);
  ASSERT_TRUE(WaitFor(a_, 1));
  EXPECT_EQ(listener.Receive(), "replaced");
}

TEST_F(GpsUdpTest, BroadcastIsReadAnewForEveryBlock) {
  UdpPeer listener;
  StartSender(listener.Port());
  EXPECT_EQ(listener.Receive(), "");
  a_.gps.BroadcastFlag(1);  // a host's 1 reads back 1, but only true (-1) relays
  pty_.Write(kGga);
  ASSERT_TRUE(WaitFor(a_, 1));
  EXPECT_EQ(listener.Receive(100ms), std::nullopt);
  EXPECT_EQ(a_.gps.BroadcastFlag(), 1);
  a_.gps.Broadcast(true);
  pty_.Write(kRmc);
  ASSERT_TRUE(WaitFor(a_, 2));
  EXPECT_EQ(listener.Receive(), kRmc);
}

TEST_F(GpsUdpTest, TheSendersOwnSocketTakesNothingInNorSplicesIt) {
  UdpPeer listener;
  const uint16_t own_port = UdpPeer::FreePort();
  // Connect leaves the socket's local port set; the sender then binds it again.
  a_.gps.Connect(AsPortNumber(own_port));
  a_.gps.StopGPS();
  StartSender(listener.Port());
  EXPECT_EQ(listener.Receive(), "");
  const std::string rmc = kRmc;
  pty_.Write(rmc.substr(0, 20));
  ASSERT_TRUE(WaitFor(a_, 1));
  // Whoever saw the rebroadcast knows its port: a fix sent back there is spoofing.
  UdpPeer stranger;
  stranger.SendTo(own_port, kGga);
  pty_.Write(rmc.substr(20));
  ASSERT_TRUE(WaitFor(a_, 2));
  EXPECT_EQ(a_.gps.Speed(), "41.4848");  // the serial sentence, whole
  RunFor(io_, 100ms);                    // time for the datagram to have come, and been dropped
  EXPECT_EQ(a_.gps.Latitude(), "");      // nothing of it decoded
  EXPECT_EQ(a_.streams.size(), 2u);      // nor raised
  EXPECT_EQ(listener.Receive(), rmc.substr(0, 20));
  EXPECT_EQ(listener.Receive(), rmc.substr(20));
  EXPECT_EQ(listener.Receive(100ms), std::nullopt);
}

TEST_F(GpsUdpTest, ANameThatCannotBeFoundIsSaidOnceAndNotLookedUpPerBlock) {
  // An empty label: the resolver refuses the name itself, so no query leaves the machine.
  StartSender(UdpPeer::FreePort(), "no..such..host");
  ASSERT_EQ(a_.errors.size(), 1u);
  EXPECT_TRUE(a_.errors[0].starts_with("Cannot resolve remote host \"no..such..host\""))
      << a_.errors[0];
  for (int i = 1; i <= 3; ++i) {
    pty_.Write(kGga);
    ASSERT_TRUE(WaitFor(a_, static_cast<size_t>(i)));
  }
  EXPECT_EQ(a_.errors.size(), 1u);
  EXPECT_EQ(a_.gps.Latitude(), "48.1173");
}

TEST_F(GpsUdpTest, ConnectListensOnRxPortUnlessGivenAnotherPort) {
  UdpPeer peer;
  const uint16_t rx = UdpPeer::FreePort();
  b_.gps.RxPort(AsPortNumber(rx));
  b_.gps.Connect();
  peer.SendTo(rx, "one");
  ASSERT_TRUE(WaitFor(b_, 1));
  b_.gps.Connect(0);
  peer.SendTo(rx, "two");
  ASSERT_TRUE(WaitFor(b_, 2));
  const uint16_t other = UdpPeer::FreePort();
  b_.gps.Connect(AsPortNumber(other));
  peer.SendTo(other, "three");
  ASSERT_TRUE(WaitFor(b_, 3));
  EXPECT_EQ(b_.streams, (std::vector<std::string>{"one", "two", "three"}));
}

TEST_F(GpsUdpTest, ConnectOnASerialSourceClosesThePortFirst) {
  a_.gps.Port(pty_.AssignTo(221));
  a_.gps.Start();
  ASSERT_TRUE(a_.gps.Engine());
  a_.gps.Connect(AsPortNumber(UdpPeer::FreePort()));
  EXPECT_FALSE(a_.gps.Engine());
  pty_.Write(kGga);
  RunFor(io_, 100ms);
  EXPECT_TRUE(a_.streams.empty());
  a_.gps.Start();  // running: nothing happens
  EXPECT_FALSE(a_.gps.Engine());
}

TEST_F(GpsUdpTest, ASentenceInTwoDatagramsIsDecodedOnceWithTwoStreams) {
  UdpPeer peer;
  const uint16_t port = UdpPeer::FreePort();
  b_.gps.Connect(AsPortNumber(port));
  const std::string sentence = kGga;
  peer.SendTo(port, sentence.substr(0, 30));
  ASSERT_TRUE(WaitFor(b_, 1));
  EXPECT_EQ(b_.gps.Latitude(), "");
  peer.SendTo(port, sentence.substr(30));
  ASSERT_TRUE(WaitFor(b_, 2));
  EXPECT_EQ(b_.gps.Latitude(), "48.1173");
  EXPECT_EQ(b_.gps.LastGPGGA(), sentence.substr(0, sentence.size() - 1));
}

TEST_F(GpsUdpTest, AnEmptyBroadcastAddressStillOpensTheSerialPortQuietly) {
  StartSender(UdpPeer::FreePort(), "");
  EXPECT_TRUE(a_.errors.empty());
  pty_.Write(kGga);
  ASSERT_TRUE(WaitFor(a_, 1));
  EXPECT_EQ(a_.gps.Latitude(), "48.1173");
  a_.gps.StopGPS();
  UdpPeer listener;
  StartSender(listener.Port(), "127.0.0.1");
  EXPECT_EQ(listener.Receive(), "");
  EXPECT_TRUE(a_.errors.empty());
}

TEST_F(GpsUdpTest, DatagramsOfAnySizeAndAnyBytesAreTakenWhole) {
  UdpPeer peer;
  const uint16_t port = UdpPeer::FreePort();
  b_.gps.Connect(AsPortNumber(port));
  std::string garbage(SocketComm::kMaxDatagram, '\0');
  std::mt19937 random(7);
  for (char& c : garbage) c = static_cast<char>(random());
  peer.SendTo(port, garbage);
  ASSERT_TRUE(WaitFor(b_, 1));
  EXPECT_EQ(b_.streams[0], garbage);
  for (int i = 0; i < 200; ++i) peer.SendTo(port, std::string(1000, '$'));
  peer.SendTo(port, std::string("\r\n") + kGga);
  ASSERT_TRUE(RunUntil(io_, [&] { return b_.gps.Latitude() == "48.1173"; }));
}

TEST_F(GpsUdpTest, ABusyLocalPortLeavesTheControlRunningAndQuiet) {
  UdpPeer holder;
  b_.gps.Connect(AsPortNumber(holder.Port()));
  EXPECT_FALSE(b_.gps.Engine());
  EXPECT_TRUE(b_.errors.empty());
  EXPECT_TRUE(b_.streams.empty());
  b_.gps.Start();  // still running, so this does nothing
  EXPECT_TRUE(b_.errors.empty());
  b_.gps.StopGPS();
}

}  // namespace
}  // namespace quorvane
