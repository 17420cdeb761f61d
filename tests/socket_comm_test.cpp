#include "platform/socket_comm.hpp"

#include <gtest/gtest.h>

#include "support/run_until.hpp"
#include "support/udp_peer.hpp"

namespace quorvane {
namespace {

using testing::AsPortNumber;
using testing::UdpPeer;

class SocketCommTest : public ::testing::Test {
 protected:
  SocketCommTest() {
    sck_.DataArrival([this](std::string_view datagram) { received_.emplace_back(datagram); });
  }
  asio::io_context io_;
  SocketComm sck_{io_};
  std::vector<std::string> received_;
};

TEST_F(SocketCommTest, SendsOneDatagramPerCallToTheRemoteHost) {
  UdpPeer peer;
  sck_.RemoteHost("127.0.0.1");
  sck_.RemotePort(AsPortNumber(peer.Port()));
  EXPECT_THROW(sck_.SendData("x"), SocketError);  // not connected yet
  sck_.Connect();
  sck_.SendData("");
  sck_.SendData(std::string("a\0b\r\n", 5));
  EXPECT_EQ(peer.Receive(), "");
  EXPECT_EQ(peer.Receive(), std::string("a\0b\r\n", 5));
}

TEST_F(SocketCommTest, ReceivesOnItsLocalPortAndRaisesDataArrival) {
  const uint16_t port = UdpPeer::FreePort();
  sck_.LocalPort(AsPortNumber(port));
  sck_.Connect();
  EXPECT_EQ(static_cast<uint16_t>(sck_.LocalPort()), port);
  EXPECT_THROW(sck_.LocalPort(1), SocketError);  // not while open
  UdpPeer peer;
  peer.SendTo(port, "hello");
  ASSERT_TRUE(testing::RunUntil(io_, [&] { return !received_.empty(); }));
  EXPECT_EQ(received_, (std::vector<std::string>{"hello"}));
}

TEST_F(SocketCommTest, BroadcastAddressesCanBeSentTo) {
  sck_.RemoteHost("127.255.255.255");
  sck_.RemotePort(AsPortNumber(UdpPeer::FreePort()));
  sck_.Connect();
  EXPECT_NO_THROW(sck_.SendData("$GPGGA\r\n"));
}

TEST_F(SocketCommTest, RefusesWhatItCannotDo) {
  EXPECT_THROW(sck_.Protocol(0), SocketError);
  EXPECT_NO_THROW(sck_.Protocol(SocketComm::sckUDPProtocol));
  sck_.Connect();
  EXPECT_THROW(sck_.SendData("x"), SocketError);  // no remote host
  sck_.RemoteHost("127.0.0.1");
  EXPECT_THROW(sck_.SendData("x"), SocketError);  // nor port
  UdpPeer holder;
  SocketComm second(io_);
  second.LocalPort(AsPortNumber(holder.Port()));
  EXPECT_THROW(second.Connect(), SocketError);
  EXPECT_FALSE(second.IsOpen());
}

TEST_F(SocketCommTest, CloseAndDestructionWithAReceivePendingAreSafe) {
  {
    SocketComm short_lived(io_);
    short_lived.Connect();
    short_lived.Close();
    short_lived.Close();
    short_lived.Connect();
  }
  testing::RunFor(io_, std::chrono::milliseconds(20));
  sck_.Connect();
  EXPECT_TRUE(sck_.IsOpen());
}

}  // namespace
}  // namespace quorvane
