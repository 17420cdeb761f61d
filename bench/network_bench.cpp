// The network sources and the NMEA server on loopback: how many sentences a TCP source hands to
// the control per second (taken, assembled and decoded), and how long a block takes from
// NmeaServer::Send to the last of 100 clients reading it, with and without one client that never
// reads.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include <asio/read.hpp>
#include <asio/write.hpp>

#include "bench/one_second.hpp"
#include "control/gps.hpp"
#include "platform/nmea_server.hpp"

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

// Argument: 1 adds a client that never reads to the 100 that do.
void BM_ServeLatency(benchmark::State& state) {
  asio::io_context io;
  quorvane::NmeaServer server(io, {asio::ip::make_address("127.0.0.1"), 0});
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
  std::sort(latencies.begin(), latencies.end());
  state.counters["median_us"] = latencies[latencies.size() / 2];
  state.counters["p99_us"] = latencies[latencies.size() * 99 / 100];
}
BENCHMARK(BM_ServeLatency)->Arg(0)->Arg(1)->Iterations(2000)->UseRealTime();

}  // namespace
