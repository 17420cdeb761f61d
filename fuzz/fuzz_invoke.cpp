// Invoke with any dispatch id, flags and variants: a clear code or a result, never a crash.
// Members that would reach outside (serial ports, sockets, the clock, a browser, files named by
// the input) are kept in: the platform is a fake, and file names are replaced by a scratch file.

#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include "control/dispatch.hpp"
#include "fuzz/fuzz_platform.hpp"

namespace {

// Members that open a port, a socket or a file the input would name (a source or an output
// made from a text: "udp://HOST:PORT" sends to any host) are left out: the fuzzer stays on this
// machine and writes nothing but its scratch file. The texts themselves are read by the
// factories' own tests.
bool ReachesOutside(int32_t dispid) {
  for (const char* name : {"Start", "Connect", "SendCommand", "OpenSource", "OpenSink"}) {
    if (dispid == quorvane::GetIDsOfNames(name)) return true;
  }
  return false;
}

bool TakesAFileName(int32_t dispid) {
  return dispid == quorvane::GetIDsOfNames("StartKMLRecord") ||
         dispid == quorvane::GetIDsOfNames("CreateGoogleEarthPlaceMark");
}

quorvane::DispatchValue Value(FuzzedDataProvider& input) {
  quorvane::DispatchValue value;
  value.vt = static_cast<quorvane::VarType>(input.PickValueInArray({0, 2, 5, 8, 11}));
  value.i2 = input.ConsumeIntegral<int16_t>();
  value.boolean = input.ConsumeIntegral<int16_t>();
  value.r8 = input.ConsumeFloatingPoint<double>();
  value.str = input.ConsumeRandomLengthString(32);
  return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string scratch = (std::filesystem::temp_directory_path() /
                                      ("qgps-fuzz-" + std::to_string(::getpid()) + ".kml"))
                                         .string();
  FuzzedDataProvider input(data, size);
  asio::io_context io;
  quorvane::fuzzing::FuzzPlatform machine;
  machine.serial_ports = "1,5";
  machine.bias_minutes = 60;
  machine.standard_name = "CET";
  quorvane::GPS gps(io, machine);
  const auto& table = quorvane::MemberTable();
  while (input.remaining_bytes() > 0) {
    const int32_t dispid =
        input.ConsumeBool()
            ? table[input.ConsumeIntegralInRange<size_t>(0, table.size() - 1)].dispid
            : input.ConsumeIntegral<int32_t>();
    if (ReachesOutside(dispid)) continue;
    const int flags = input.ConsumeIntegralInRange<int>(0, 7);
    std::vector<quorvane::DispatchValue> args(input.ConsumeIntegralInRange<size_t>(0, 5));
    for (auto& arg : args) arg = Value(input);
    if (TakesAFileName(dispid) && !args.empty()) args[0] = quorvane::DispatchValue::Of(scratch);
    quorvane::DispatchValue result;
    const int code = quorvane::Invoke(gps, dispid, flags, args, result);
    if (code > 0 || code < quorvane::kInvalidArgument) __builtin_trap();
  }
  return 0;
}
