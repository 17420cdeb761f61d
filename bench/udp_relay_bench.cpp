// The UDP path on loopback: how many datagrams a Connect-ed control takes, assembles, decodes
// and raises per second, and how long a sentence takes from a receiver's pseudo-terminal at
// control A through A's rebroadcast to control B's Stream.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "bench/one_second.hpp"
#include "control/gps.hpp"
#include "support/pseudo_terminal.hpp"
#include "support/udp_peer.hpp"

namespace {

using quorvane::testing::AsPortNumber;
using quorvane::testing::UdpPeer;

using quorvane::bench::kOneSecond;

void RunUntilStreams(asio::io_context& io, const size_t& streams, size_t wanted) {
  io.restart();
  while (streams < wanted) io.run_one_for(std::chrono::milliseconds(100));
}

void BM_DatagramsTaken(benchmark::State& state) {
  asio::io_context io;
  quorvane::GPS gps(io);
  size_t streams = 0;
  gps.Advise({.Stream = [&](std::string&) { ++streams; }});
  const uint16_t port = UdpPeer::FreePort();
  gps.Connect(AsPortNumber(port));
  UdpPeer sender;
  constexpr size_t kBatch = 64;
  for (auto _ : state) {
    for (size_t i = 0; i < kBatch; ++i) sender.SendTo(port, kOneSecond);
    RunUntilStreams(io, streams, streams + kBatch);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kBatch));
  state.counters["datagrams_per_second"] = benchmark::Counter(
      static_cast<double>(state.iterations() * kBatch), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DatagramsTaken)->UseRealTime();

void BM_RelayLatency(benchmark::State& state) {
  asio::io_context io;
  quorvane::testing::PseudoTerminal pty;
  quorvane::GPS a(io);
  quorvane::GPS b(io);
  size_t b_streams = 0;
  b.Advise({.Stream = [&](std::string&) { ++b_streams; }});
  const uint16_t port = UdpPeer::FreePort();
  b.Connect(AsPortNumber(port));
  a.Port(pty.AssignTo(900));
  a.Broadcast(true);
  a.BroadcastAddress("127.0.0.1");
  a.TxPort(AsPortNumber(port));
  a.Start();
  RunUntilStreams(io, b_streams, 1);  // the sender's empty first datagram

  const std::string sentence =
      "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n";
  std::vector<double> microseconds;
  for (auto _ : state) {
    const auto written = std::chrono::steady_clock::now();
    pty.Write(sentence);
    RunUntilStreams(io, b_streams, b_streams + 1);
    microseconds.push_back(
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - written)
            .count());
  }
  std::sort(microseconds.begin(), microseconds.end());
  state.counters["median_us"] = microseconds[microseconds.size() / 2];
  state.counters["p99_us"] = microseconds[microseconds.size() * 99 / 100];
}
BENCHMARK(BM_RelayLatency)->Iterations(1000)->UseRealTime();

}  // namespace
