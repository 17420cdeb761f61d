// The map's server against what a hostile or careless client sends: it answers its own files and
// nothing else, refuses sockets opened by other sites' pages and requests it cannot take, holds a
// bounded number of connections, and cuts a page that never reads while the others are served.

#include "sinks/web_map.hpp"

#include <sys/resource.h>

#include <gtest/gtest.h>

#include <fstream>

#include <asio/write.hpp>

#include "support/files.hpp"
#include "support/run_until.hpp"
#include "support/sink_streams.hpp"

namespace quorvane {
namespace {

using namespace std::chrono_literals;

class WebMapServerTest : public ::testing::Test {
 protected:
  // Stands in for Debian's Leaflet: what is served is what the folder holds.
  bool WriteLeaflet() {
    std::ofstream(folder_.File("leaflet.js")) << "window.L = {};\n";
    std::ofstream(folder_.File("leaflet.css")) << ".leaflet-container {}\n";
    return true;
  }

  asio::ip::tcp::socket Connect(int receive_buffer = 0) {
    asio::ip::tcp::socket client(io_);
    client.open(asio::ip::tcp::v4());
    if (receive_buffer > 0) {
      client.set_option(asio::socket_base::receive_buffer_size(receive_buffer));
    }
    client.connect({asio::ip::make_address("127.0.0.1"), map_->Port()});
    return client;
  }
  // What arrives on `client` until the server closes it or `until` is in it.
  std::string Read(asio::ip::tcp::socket& client, const std::string& until = "") {
    std::string text;
    testing::RunUntil(io_, [&] {
      std::array<char, 65536> buffer{};
      std::error_code error;
      while (client.available(error) > 0 && !error) {
        text.append(buffer.data(), client.read_some(asio::buffer(buffer), error));
      }
      if (!until.empty() && text.find(until) != std::string::npos) return true;
      // Nothing waiting: has the server closed it?
      client.non_blocking(true);
      char probe;
      const size_t got =
          client.receive(asio::buffer(&probe, 1), asio::socket_base::message_peek, error);
      client.non_blocking(false);
      return got == 0 && error == asio::error::eof;
    });
    return text;
  }
  // Reads what `client` is sent until the server has nothing more for it.
  void Drain(asio::ip::tcp::socket& client) {
    std::array<char, 65536> buffer{};
    for (int quiet = 0; quiet < 3;) {
      testing::RunFor(io_, 1ms);
      std::error_code error;
      size_t read = 0;
      while (client.available(error) > 0 && !error)
        read += client.read_some(asio::buffer(buffer), error);
      quiet = read > 0 ? 0 : quiet + 1;
    }
  }
  std::string Request(const std::string& request) {
    auto client = Connect();
    asio::write(client, asio::buffer(request));
    return Read(client);
  }
  std::string Upgrade(asio::ip::tcp::socket& client, const std::string& origin,
                      std::string host = "127.0.0.1") {
    const std::string port = std::to_string(map_->Port());
    asio::write(client, asio::buffer("GET /live HTTP/1.1\r\nHost: " + host + ":" + port +
                                     "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                                     "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                                     "Sec-WebSocket-Version: 13\r\nOrigin: " +
                                     origin + "\r\n\r\n"));
    return Read(client, "\r\n\r\n");
  }
  std::string Own() const { return "http://127.0.0.1:" + std::to_string(map_->Port()); }

  testing::ScratchFolder folder_;
  bool leaflet_written_ = WriteLeaflet();
  asio::io_context io_;
  testing::SinkStreams streams_;
  std::unique_ptr<WebMap> map_ = std::make_unique<WebMap>(
      io_, asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0),
      WebMapSettings{.receiver = "/dev/ttyUSB0", .leaflet_folder = folder_.File(".")}, streams_);
};

TEST_F(WebMapServerTest, OnlyItsOwnFilesAndItsOwnPagesSocketsAreAnswered) {
  const std::string page = Request("GET / HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_TRUE(page.starts_with("HTTP/1.1 200"));
  // No inline script runs, whatever text reaches the page.
  EXPECT_NE(page.find("Content-Security-Policy: default-src 'self'; script-src 'self';"),
            std::string::npos);
  EXPECT_EQ(page.find("Server:"), std::string::npos);
  EXPECT_NE(Request("GET /leaflet/leaflet.js HTTP/1.1\r\nHost: x\r\n\r\n").find("window.L"),
            std::string::npos);
  for (const std::string path : {"/../../etc/passwd", "/%2e%2e/%2e%2e/etc/passwd",
                                 "/leaflet/../../../etc/passwd", "/map.js/..", "//etc/passwd"}) {
    SCOPED_TRACE(path);
    const std::string answer = Request("GET " + path + " HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_TRUE(answer.starts_with("HTTP/1.1 404")) << answer.substr(0, 200);
    EXPECT_EQ(answer.find("root:"), std::string::npos);
  }
  EXPECT_TRUE(Request("POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 2\r\n\r\nhi")
                  .starts_with("HTTP/1.1 4"));
  // A megabyte of header is refused, not kept.
  const std::string huge =
      Request("GET / HTTP/1.1\r\nHost: x\r\nX-Junk: " + std::string(1 << 20, 'a') + "\r\n\r\n");
  EXPECT_FALSE(huge.starts_with("HTTP/1.1 200")) << huge.substr(0, 200);

  auto foreign = Connect();
  const std::string refused = Upgrade(foreign, "http://evil.example");
  EXPECT_TRUE(refused.starts_with("HTTP/1.1 403")) << refused;
  // Someone else's name pointed here: its page's Origin matches its Host, but the name is not
  // this server's.
  const std::string port = std::to_string(map_->Port());
  auto rebound = Connect();
  EXPECT_TRUE(
      Upgrade(rebound, "http://evil.example:" + port, "evil.example").starts_with("HTTP/1.1 403"));
  auto named = Connect();
  EXPECT_TRUE(Upgrade(named, "http://LocalHost:" + port, "LocalHost").starts_with("HTTP/1.1 101"));
  named.close();
  auto own = Connect();
  EXPECT_TRUE(Upgrade(own, Own()).starts_with("HTTP/1.1 101"));
  ASSERT_TRUE(testing::RunUntil(io_, [&] { return map_->Pages() == 1; }));
  EXPECT_NE(Read(own, "HELLO").find("\"receiver\":\"/dev/ttyUSB0\""), std::string::npos);
}

TEST_F(WebMapServerTest, ConnectionsAreBoundedAndAPageThatNeverReadsIsCutAlone) {
  rlimit limit{};
  ::getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = limit.rlim_max;
  ::setrlimit(RLIMIT_NOFILE, &limit);
  if (limit.rlim_cur < 2 * 600 + 64) GTEST_SKIP() << "too few descriptors for the test";
  {
    // 600 connections that never ask anything: no more than 512 are held.
    std::vector<asio::ip::tcp::socket> idle;
    for (int i = 0; i < 600; ++i) idle.push_back(Connect());
    for (auto& client : idle) client.non_blocking(true);
    const auto closed = [&] {
      size_t count = 0;
      for (auto& client : idle) {
        std::error_code error;
        char probe;
        const size_t got = client.receive(asio::buffer(&probe, 1), 0, error);
        count += got == 0 && error == asio::error::eof ? 1 : 0;
      }
      return count;
    };
    EXPECT_TRUE(testing::RunUntil(io_, [&] { return closed() >= 600u - 512u; })) << closed();
  }
  testing::RunFor(io_, 200ms);

  auto reader = Connect();
  auto sleeper = Connect(4096);
  ASSERT_TRUE(Upgrade(reader, Own()).starts_with("HTTP/1.1 101"));
  ASSERT_TRUE(Upgrade(sleeper, Own()).starts_with("HTTP/1.1 101"));
  ASSERT_TRUE(testing::RunUntil(io_, [&] { return map_->Pages() == 2; }));
  Fix fix;
  fix.mode = FixMode::k3D;
  fix.latitude = 48.1;
  fix.longitude = 11.5;
  fix.date = CalendarDate{2026, 12, 8};
  for (int16_t prn = 1; prn <= 12; ++prn) {
    fix.in_view.push_back({{Constellation::kGps, prn, prn}, 45.0, 30.0 * prn, 40.0, true});
  }
  for (int epoch = 0; epoch < 40000 && map_->Pages() == 2; ++epoch) {
    fix.time = UtcTime{epoch * 1'000'000LL};
    map_->TakeEpoch(fix, "");
    if (epoch % 50 == 0) Drain(reader);
  }
  EXPECT_EQ(map_->Pages(), 1u);
  fix.time = UtcTime{86'399'000'000LL};
  map_->TakeEpoch(fix, "");
  EXPECT_NE(Read(reader, "T23:59:59").find("T23:59:59"), std::string::npos);
}

// What a page sends: a text frame, masked as a browser masks it.
std::string ClientFrame(const std::string& text) {
  const std::array<unsigned char, 4> mask{0x12, 0x34, 0x56, 0x78};
  std::string frame{static_cast<char>(0x81), static_cast<char>(0x80 | text.size())};
  frame.append(mask.begin(), mask.end());
  for (size_t i = 0; i < text.size(); ++i) frame += static_cast<char>(text[i] ^ mask[i % 4]);
  return frame;
}

class WebMapFleetServerTest : public WebMapServerTest {
 protected:
  WebMapFleetServerTest() {
    map_.reset();  // its vehicles go with it
    map_ = std::make_unique<WebMap>(io_,
                                    asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0),
                                    WebMapSettings{.leaflet_folder = folder_.File(".")}, streams_);
  }
};

TEST_F(WebMapFleetServerTest, AFollowedVehicleComesWithItsTrackAndOnlyItsSky) {
  Fix fix;
  fix.date = CalendarDate{2026, 12, 8};
  fix.in_view.push_back({{Constellation::kGps, 7, 7}, 45.0, 90.0, 40.0, true});
  const auto epoch = [&](const std::string& car, int second, bool with_fix) {
    fix.time = UtcTime{second * 1'000'000LL};
    fix.mode = with_fix ? FixMode::k3D : FixMode::kNoFix;
    fix.latitude = with_fix ? std::optional(48.0 + second / 1000.0) : std::nullopt;
    fix.longitude = with_fix ? std::optional(11.5) : std::nullopt;
    map_->TakeEpoch(fix, car);
  };
  int second = 0;
  for (const bool with_fix : {true, true, false, true}) {
    epoch("fleet/car1", second, true);
    epoch("fleet/car2", second++, with_fix);
  }
  auto page = Connect();
  ASSERT_TRUE(Upgrade(page, Own()).starts_with("HTTP/1.1 101"));
  // Opened mid-run: both vehicles' last fixes at once, no sky, no track.
  const std::string opened = Read(page, "fleet/car1");
  EXPECT_NE(opened.find(R"("class":"LAST")"), std::string::npos);
  EXPECT_EQ(opened.find("TRACK"), std::string::npos);

  asio::write(page, asio::buffer(ClientFrame(R"({"follow":"fleet/car2/nmea"})")));
  asio::write(page, asio::buffer(ClientFrame(R"({"follow":"fleet/car2"})")));
  const std::string track = Read(page, "]]}");
  EXPECT_NE(
      track.find(R"({"class":"TRACK","device":"fleet/car2","points":[[48.0000000,11.5000000],)"
                 R"([48.0010000,11.5000000],null,[48.0030000,11.5000000]]})"),
      std::string::npos)
      << track;
  epoch("fleet/car1", 10, true);
  epoch("fleet/car2", 10, true);
  const std::string after = Read(page, R"("class":"SKY","device":"fleet/car2")");
  EXPECT_NE(after.find(R"("class":"SKY","device":"fleet/car2")"), std::string::npos);
  EXPECT_EQ(after.find(R"("class":"SKY","device":"fleet/car1")"), std::string::npos);
}

TEST(WebMapSetUpTest, WithoutLeafletItSaysWhereItLooked) {
  asio::io_context io;
  try {
    testing::SinkStreams streams;
    WebMap map(io, asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0),
               WebMapSettings{.leaflet_folder = "/nonexistent/leaflet"}, streams);
    ADD_FAILURE() << "served without Leaflet";
  } catch (const std::runtime_error& error) {
    EXPECT_NE(std::string(error.what()).find("/nonexistent/leaflet/leaflet.js"), std::string::npos)
        << error.what();
  }
}

}  // namespace
}  // namespace quorvane
