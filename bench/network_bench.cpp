// The network sources and the NMEA server on loopback: how many sentences a TCP source hands to
// the control per second (taken, assembled and decoded), and how long a block takes from
// NmeaServer::Send to the last of 100 clients reading it, with and without one client that never
// reads; and how long an epoch takes from GpsdServer::TakeEpoch to the last of 100 clients of
// gpsd's protocol watching JSON, likewise; and from WebMap::TakeEpoch to the last of 50 map pages
// (WebSocket clients) with a fleet of 1,000 vehicles.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <asio/read.hpp>
#include <asio/read_until.hpp>
#include <asio/streambuf.hpp>
#include <asio/write.hpp>

#include "bench/one_second.hpp"
#include "control/gps.hpp"
#include "sinks/gpsd_json.hpp"
#include "sinks/gpsd_server.hpp"
#include "sinks/nmea_server.hpp"
#include "sinks/web_map.hpp"
#include "support/sink_streams.hpp"

namespace {

using Clock = std::chrono::steady_clock;

using quorvane::bench::kOneSecond;

void BM_TcpSourceSentences(benchmark::State& state) {
  asio::io_context io;
  asio::ip::tcp::acceptor acceptor(io, {asio::ip::make_address("127.0.0.1"), 0});
  quorvane::GPS gps(io);
  size_t sentences = 0;
  gps.Advise({.FixUpdated = [&](quorvane::FixChanges) { ++sentences; }});
  gps.OpenSource("tcp://127.0.0.1:" + std::to_string(acceptor.local_endpoint().port()));
  asio::ip::tcp::socket server(io);
  acceptor.accept(server);
  constexpr size_t kFixes = 2000;
  std::string batch;
  for (size_t i = 0; i < kFixes; ++i) batch += kOneSecond;
  for (auto _ : state) {
    const size_t wanted = sentences + kFixes * 6;
    asio::async_write(server, asio::buffer(batch), [](const std::error_code&, size_t) {});
    io.restart();
    while (sentences < wanted) io.run_one_for(std::chrono::milliseconds(100));
  }
  state.counters["sentences_per_second"] = benchmark::Counter(
      static_cast<double>(state.iterations() * kFixes * 6), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_TcpSourceSentences)->UseRealTime()->Unit(benchmark::kMillisecond);

void ReportLatencies(benchmark::State& state, std::vector<double>& latencies) {
  std::sort(latencies.begin(), latencies.end());
  state.counters["median_us"] = latencies[latencies.size() / 2];
  state.counters["p99_us"] = latencies[latencies.size() * 99 / 100];
}

// Argument: 1 adds a client that never reads to the 100 that do.
void BM_ServeLatency(benchmark::State& state) {
  asio::io_context io;
  quorvane::NmeaServer server(io, asio::ip::tcp::endpoint{asio::ip::make_address("127.0.0.1"), 0});
  constexpr size_t kReaders = 100;
  std::vector<asio::ip::tcp::socket> clients;
  for (size_t i = 0; i < kReaders + static_cast<size_t>(state.range(0)); ++i) {
    clients.emplace_back(io).connect({asio::ip::make_address("127.0.0.1"), server.Port()});
  }
  io.restart();
  while (server.Clients() < clients.size()) io.run_one_for(std::chrono::milliseconds(100));
  std::vector<std::array<char, 512>> buffers(kReaders);
  std::vector<double> latencies;
  for (auto _ : state) {
    size_t done = 0;
    for (size_t i = 0; i < kReaders; ++i) {
      asio::async_read(clients[i], asio::buffer(buffers[i], kOneSecond.size()),
                       [&done](const std::error_code&, size_t) { ++done; });
    }
    const auto sent = Clock::now();
    server.Send(kOneSecond);
    io.restart();
    while (done < kReaders) io.run_one();
    latencies.push_back(std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
  }
  ReportLatencies(state, latencies);
}
BENCHMARK(BM_ServeLatency)->Arg(0)->Arg(1)->Iterations(2000)->UseRealTime();

// An epoch as a receiver with twelve satellites in view reports it.
quorvane::Fix BusyEpoch() {
  quorvane::Fix fix;
  fix.mode = quorvane::FixMode::k3D;
  fix.status = quorvane::FixStatus::kAutonomous;
  fix.date = quorvane::CalendarDate{2026, 12, 8};
  fix.time = quorvane::UtcTime{43'200'000'000};
  fix.latitude = 48.1173;
  fix.longitude = 11.5167;
  fix.altitude_msl = 545.4;
  fix.speed = 13.9;
  fix.course = 315;
  fix.hdop = 0.9;
  fix.satellites_used = 8;
  for (int16_t prn = 1; prn <= 12; ++prn) {
    fix.in_view.push_back(
        {{quorvane::Constellation::kGps, prn, prn}, 45.0, 30.0 * prn, 40.0, prn <= 8});
  }
  return fix;
}

// Argument: 1 adds a client that watches and never reads to the 100 that do. Epochs go out back
// to back, far faster than a 10 Hz receiver's.
void BM_GpsdServeLatency(benchmark::State& state) {
  asio::io_context io;
  quorvane::testing::SinkStreams streams;
  quorvane::GpsdServer server(io, asio::ip::tcp::endpoint{asio::ip::make_address("127.0.0.1"), 0},
                              "/dev/ttyUSB0", streams);
  constexpr size_t kReaders = 100;
  const size_t connections = kReaders + static_cast<size_t>(state.range(0));
  std::vector<asio::ip::tcp::socket> clients;
  clients.reserve(connections);  // a socket with a read under way must not move
  std::vector<asio::streambuf> greetings(connections);
  size_t greeted = 0;
  for (size_t i = 0; i < connections; ++i) {
    auto& client = clients.emplace_back(io);
    client.connect({asio::ip::make_address("127.0.0.1"), server.Port()});
    asio::write(client, asio::buffer(std::string("?WATCH={\"enable\":true,\"json\":true};")));
    asio::async_read_until(client, greetings[i], "\"pps\":false}\r\n",
                           [&greeted](const std::error_code&, size_t) { ++greeted; });
  }
  io.restart();
  while (greeted < connections) io.run_one_for(std::chrono::milliseconds(100));
  const quorvane::Fix fix = BusyEpoch();
  const size_t report_size = quorvane::TpvJson(fix, "/dev/ttyUSB0").size() +
                             quorvane::SkyJson(fix, "/dev/ttyUSB0").size() + 4;
  std::vector<std::vector<char>> buffers(kReaders, std::vector<char>(report_size));
  std::vector<double> latencies;
  for (auto _ : state) {
    size_t done = 0;
    for (size_t i = 0; i < kReaders; ++i) {
      asio::async_read(clients[i], asio::buffer(buffers[i]),
                       [&done](const std::error_code&, size_t) { ++done; });
    }
    const auto taken = Clock::now();
    server.TakeEpoch(fix, "");
    io.restart();
    while (done < kReaders) io.run_one();
    latencies.push_back(std::chrono::duration<double, std::micro>(Clock::now() - taken).count());
  }
  ReportLatencies(state, latencies);
  state.counters["clients_left"] = static_cast<double>(server.Clients());
}
BENCHMARK(BM_GpsdServeLatency)->Arg(0)->Arg(1)->Iterations(3000)->UseRealTime();

}  // namespace

namespace {

// The epoch of one of a fleet's vehicles; the map page gets its TPV.
quorvane::Fix VehicleEpoch(int second) {
  quorvane::Fix fix = BusyEpoch();
  fix.time = quorvane::UtcTime{second * 1'000'000LL};
  fix.in_view.clear();
  return fix;
}

// 50 pages of a fleet's map; each iteration one vehicle's epoch (1,000 vehicles in turn), timed
// until the last page has its TPV. Leaflet's files are this process's own stand-ins.
void BM_WebMapPushLatency(benchmark::State& state) {
  const std::string leaflet = "/tmp/qgps-bench-leaflet";
  std::filesystem::create_directories(leaflet);
  std::ofstream(leaflet + "/leaflet.js") << "window.L = {};";
  std::ofstream(leaflet + "/leaflet.css") << "*{}";
  asio::io_context io;
  quorvane::testing::SinkStreams streams;
  quorvane::WebMap map(io, asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0),
                       quorvane::WebMapSettings{.leaflet_folder = leaflet}, streams);
  constexpr size_t kPages = 50;
  constexpr int kVehicles = 1000;
  std::vector<asio::ip::tcp::socket> pages;
  pages.reserve(kPages);  // a socket with a read under way must not move
  std::vector<asio::streambuf> greetings(kPages);
  size_t greeted = 0;
  const std::string upgrade =
      "GET /live HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
      "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
      "Sec-WebSocket-Version: 13\r\n\r\n";
  for (size_t i = 0; i < kPages; ++i) {
    auto& page = pages.emplace_back(io);
    page.connect({asio::ip::make_address("127.0.0.1"), map.Port()});
    asio::write(page, asio::buffer(upgrade));
    asio::async_read_until(page, greetings[i], "\"attribution\":\"\"}",
                           [&greeted](const std::error_code&, size_t) { ++greeted; });
  }
  io.restart();
  while (greeted < kPages) io.run_one_for(std::chrono::milliseconds(100));
  std::vector<std::vector<char>> frames(kPages);
  std::vector<double> latencies;
  int epoch = 0;
  for (auto _ : state) {
    const std::string device = "fleet/car" + std::to_string(epoch % kVehicles) + "/nmea";
    const quorvane::Fix fix = VehicleEpoch(epoch++ / kVehicles);
    const size_t payload = quorvane::TpvJson(fix, device).size();
    size_t done = 0;
    for (size_t i = 0; i < kPages; ++i) {
      frames[i].resize(payload + (payload < 126 ? 2 : 4));
      asio::async_read(pages[i], asio::buffer(frames[i]),
                       [&done](const std::error_code&, size_t) { ++done; });
    }
    const auto taken = Clock::now();
    map.TakeEpoch(fix, device);
    io.restart();
    while (done < kPages) io.run_one();
    latencies.push_back(std::chrono::duration<double, std::micro>(Clock::now() - taken).count());
  }
  ReportLatencies(state, latencies);
  state.counters["pages_left"] = static_cast<double>(map.Pages());
}
BENCHMARK(BM_WebMapPushLatency)->Iterations(5000)->UseRealTime();

}  // namespace
