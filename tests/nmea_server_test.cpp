// Serving NMEA over TCP: every block to every client in order, a client that never reads
// dropped past its 1 MiB without slowing the others, text from clients ignored, connections
// bounded.

#include "sinks/nmea_server.hpp"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <asio/connect.hpp>
#include <asio/read.hpp>
#include <asio/write.hpp>

#include "support/run_until.hpp"

namespace quorvane {
namespace {

using namespace std::chrono_literals;

class NmeaServerTest : public ::testing::Test {
 protected:
  asio::ip::tcp::socket Connect(int receive_buffer = 0) {
    asio::ip::tcp::socket client(io_);
    client.open(asio::ip::tcp::v4());
    if (receive_buffer > 0) {
      client.set_option(asio::socket_base::receive_buffer_size(receive_buffer));
    }
    client.connect({asio::ip::make_address("127.0.0.1"), server_.Port()});
    return client;
  }
  // Reads what is waiting on `client`, without blocking.
  static std::string ReadWaiting(asio::ip::tcp::socket& client) {
    std::string text;
    std::array<char, 65536> buffer{};
    std::error_code error;
    while (client.available(error) > 0 && !error) {
      text.append(buffer.data(), client.read_some(asio::buffer(buffer), error));
    }
    return text;
  }

  asio::io_context io_;
  NmeaServer server_{io_, asio::ip::tcp::endpoint{asio::ip::make_address("127.0.0.1"), 0}};
};

TEST_F(NmeaServerTest, EveryClientGetsEveryBlockInOrderAndASlowOneIsDroppedAlone) {
  auto fast = Connect();
  auto talker = Connect();
  auto sleeper = Connect(4096);  // never reads
  ASSERT_TRUE(testing::RunUntil(io_, [&] { return server_.Clients() == 3; }));
  asio::write(talker, asio::buffer(std::string("$PMTK220,1000*1F\r\n")));  // ignored

  const std::string block = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n";
  std::string sent;
  std::string fast_read;
  std::string talker_read;
  for (int i = 0; i < 40000; ++i) {  // 2.7 MB, far beyond what the sleeper may hold
    server_.Send(block);
    sent += block;
    if (i % 100 == 0) {
      io_.restart();
      io_.poll();
      fast_read += ReadWaiting(fast);
      talker_read += ReadWaiting(talker);
    }
  }
  ASSERT_TRUE(testing::RunUntil(io_, [&] {
    fast_read += ReadWaiting(fast);
    talker_read += ReadWaiting(talker);
    return fast_read.size() >= sent.size() && talker_read.size() >= sent.size();
  }));
  EXPECT_TRUE(fast_read == sent);
  EXPECT_TRUE(talker_read == sent);
  EXPECT_EQ(server_.Clients(), 2u);  // the sleeper is gone
}

TEST_F(NmeaServerTest, AFleetGoesAsWholeNamedSentencesAndAReaderThatStopsSendingStillGetsThem) {
  auto reader = Connect();
  auto quiet = Connect();
  quiet.shutdown(asio::ip::tcp::socket::shutdown_send);  // says nothing more, still reads
  ASSERT_TRUE(testing::RunUntil(io_, [&] { return server_.Clients() == 2; }));
  // Its end of input taken, it is probed twice, and kept.
  std::string probes;
  ASSERT_TRUE(testing::RunUntil(io_, [&] {
    probes += ReadWaiting(quiet);
    return probes.size() >= 4;
  }));
  EXPECT_EQ(server_.Clients(), 2u);
  EXPECT_EQ(probes, "\r\n\r\n");

  // Two vehicles' messages, each ending in half a sentence: never spliced.
  const std::string car1 = "fleet/car1/nmea";
  const std::string car2 = "fleet/car2/nmea";
  const std::string a = "$GPGGA,1,4807.038,N*00\r";
  const std::string b = "$GPGGA,2,5107.038,N*00\r";
  server_.TakeSentence(a, car1);
  server_.TakeBlock(a + "\n$GPGGA,1,48", {car1, false});
  server_.TakeSentence(b, car2);
  server_.TakeBlock(b + "\n$GPGGA,2,51", {car2, false});
  const std::string expected = TagBlockOf(car1) + a + "\n" + TagBlockOf(car2) + b + "\n";
  EXPECT_EQ(TagBlockOf(car1), "\\s:fleet/car1/nmea*71\\");
  EXPECT_EQ(TagBlockOf("a*b,c\\d"), "\\s:a_b_c_d*12\\");
  std::string read;
  std::string quiet_read;
  ASSERT_TRUE(testing::RunUntil(io_, [&] {
    read += ReadWaiting(reader);
    quiet_read += ReadWaiting(quiet);
    return read.size() >= expected.size() && quiet_read.size() >= expected.size();
  }));
  EXPECT_EQ(read, expected);
  EXPECT_EQ(quiet_read, expected);

  // One huge message is cut to its first 64 KiB of lines; nobody is dropped for it.
  for (int i = 0; i < 20000; ++i) server_.TakeSentence(a, car1);
  server_.TakeBlock("", {car1, false});
  EXPECT_GT(server_.DroppedSentences(), 0u);
  testing::RunFor(io_, 100ms);
  read = ReadWaiting(reader);
  EXPECT_LE(read.size(), NmeaServer::kMostFleetTextPerBlock);
  EXPECT_TRUE(read.ends_with(a + "\n"));
  EXPECT_EQ(server_.Clients(), 2u);
}

TEST_F(NmeaServerTest, AFloodOfConnectionsStaysBounded) {
  std::vector<asio::ip::tcp::socket> flood;
  for (size_t i = 0; i < NmeaServer::kMostClients + 50; ++i) {
    flood.push_back(Connect());
    if (i % 50 == 0) testing::RunFor(io_, 1ms);
  }
  testing::RunUntil(io_, [&] { return server_.Clients() == NmeaServer::kMostClients; });
  testing::RunFor(io_, 50ms);
  EXPECT_EQ(server_.Clients(), NmeaServer::kMostClients);
  flood.clear();  // all of them leave
  EXPECT_TRUE(testing::RunUntil(io_, [&] { return server_.Clients() == 0; }));
}

TEST_F(NmeaServerTest, WithNoDescriptorLeftItWaitsBetweenAcceptsSaysWhyOnceAndTakesTheClientLater) {
#ifdef QGPS_SANITIZED
  GTEST_SKIP() << "with no descriptor left the sanitizers' runtime reports what it cannot check";
#endif
  std::vector<std::string> said;
  server_.OnAcceptFailure([&](const std::string& what) { said.push_back(what); });
  // No descriptor left for the process: the lowest free one is past the limit.
  rlimit limit{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
  const int lowest_free = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(lowest_free, 0);
  ::close(lowest_free);
  rlimit none = limit;
  none.rlim_cur = static_cast<rlim_t>(lowest_free);
  auto client = Connect();  // its socket is made first; the server's side cannot be
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &none), 0);
  testing::RunFor(io_, 1s);
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &limit), 0);
  // Not tried again at once (that spun a core for as long as it lasted), and said once.
  EXPECT_GE(server_.AcceptFailures(), 1u);
  EXPECT_LE(server_.AcceptFailures(), 20u);
  ASSERT_EQ(said.size(), 1u);
  EXPECT_EQ(said[0], "cannot accept a client: Too many open files; trying again");
  EXPECT_TRUE(testing::RunUntil(io_, [&] { return server_.Clients() == 1; }));
}

}  // namespace
}  // namespace quorvane
