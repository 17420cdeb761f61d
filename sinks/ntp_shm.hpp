#pragma once
// The receiver's time for the computer's clock, the way Linux disciplines it: each epoch's UTC
// time, with the moment its first sentence arrived, written into the NTP shared-memory segment
// that chrony's "refclock SHM N" (and ntpd's type 28 driver) reads. The daemon averages the
// samples and slews the clock; nothing here sets it.
//
// NMEA alone is good to some tens of milliseconds: a receiver's sentences leave it a while
// after the moment they name, which `sentence_delay` takes off the arrival. A receiver with a
// PPS line should give the daemon that for precision.

#include <chrono>
#include <cstdint>

#include "nmea/fix.hpp"
#include "receiver/sinks.hpp"
#include "sinks/sink_factory.hpp"

namespace quorvane {

class NtpShm final : public EpochSink, public Output {
 public:
  static constexpr int kMostUnit = 255;

  // Attaches to segment `unit` (0-255), made when no daemon made it yet: units 0 and 1 for root
  // alone (and only by root), the others for everyone, as ntpd and chrony make them. Throws
  // std::runtime_error saying why it cannot: no permission, a segment there of another size, or
  // one that another user made, owns or (units 0 and 1) may write, or another writer has.
  NtpShm(int unit, std::chrono::duration<double> sentence_delay);
  ~NtpShm();
  NtpShm(const NtpShm&) = delete;
  NtpShm& operator=(const NtpShm&) = delete;

  // Writes the epoch when it has a fix, a date and an arrival time; whether it did.
  bool Write(const Fix& fix);
  void TakeEpoch(const Fix& fix, const std::string&) override { Write(fix); }
  uint64_t Samples() const { return samples_; }

 private:
  void TakeUnit(int unit);

  void* segment_ = nullptr;
  int writer_lock_ = -1;  // held while this writes the unit
  std::chrono::nanoseconds sentence_delay_;
  uint64_t samples_ = 0;
};

}  // namespace quorvane
