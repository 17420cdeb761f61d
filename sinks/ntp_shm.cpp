#include "sinks/ntp_shm.hpp"

#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <ctime>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>

#include "base/text_rules.hpp"

namespace quorvane {

namespace {

// The segment's layout, as ntpd defined it and chrony reads it.
struct Segment {
  int mode;  // 1: the reader checks that count did not change while it read
  volatile int count;
  time_t clock_seconds;  // the receiver's time
  int clock_microseconds;
  time_t receive_seconds;  // the computer's clock at that moment
  int receive_microseconds;
  int leap;
  int precision;  // log2 of seconds
  int samples;
  volatile int valid;
  unsigned clock_nanoseconds;
  unsigned receive_nanoseconds;
  int reserved[8];
};

constexpr key_t kKeyOfUnitZero = 0x4E545030;  // "NTP0"
// About 30 ms: what the arrival of an NMEA sentence tells of the second it names.
constexpr int kPrecision = -5;

static_assert(offsetof(Segment, valid) == (sizeof(time_t) == 8 ? 48 : 36),
              "the segment is laid out as the daemons read it");

std::runtime_error Failure(int unit, const std::string& why) {
  return std::runtime_error("cannot use NTP shared memory segment " + std::to_string(unit) + ": " +
                            why);
}

void Split(std::chrono::system_clock::time_point moment, time_t& seconds, int& microseconds,
           unsigned& nanoseconds) {
  const auto since =
      std::chrono::duration_cast<std::chrono::nanoseconds>(moment.time_since_epoch());
  const auto whole = std::chrono::floor<std::chrono::seconds>(since);
  seconds = static_cast<time_t>(whole.count());
  nanoseconds = static_cast<unsigned>((since - whole).count());
  microseconds = static_cast<int>(nanoseconds / 1000);
}

}  // namespace

NtpShm::NtpShm(int unit, std::chrono::duration<double> sentence_delay)
    : sentence_delay_(std::chrono::duration_cast<std::chrono::nanoseconds>(sentence_delay)) {
  if (unit < 0 || unit > kMostUnit) {
    throw Failure(unit, "units are 0 to " + std::to_string(NtpShm::kMostUnit));
  }
  // Units 0 and 1 are root's, and made by root: another user who made one could write the time.
  const bool roots = unit < 2;
  const bool may_make = !roots || ::geteuid() == 0;
  const int id = ::shmget(kKeyOfUnitZero + unit, sizeof(Segment),
                          may_make ? IPC_CREAT | (roots ? 0600 : 0666) : 0);
  if (id < 0) {
    const int error = errno;
    throw Failure(unit, error == EINVAL   ? "one of another size is there"
                        : error == ENOENT ? "units 0 and 1 are made by root (run as root, or use "
                                            "unit 2 or above with the time daemon)"
                                          : std::generic_category().message(error));
  }
  shmid_ds status{};
  if (::shmctl(id, IPC_STAT, &status) != 0) {
    throw Failure(unit, std::generic_category().message(errno));
  }
  if (status.shm_segsz != sizeof(Segment)) {
    throw Failure(unit, "it has " + std::to_string(status.shm_segsz) + " bytes, not " +
                            std::to_string(sizeof(Segment)));
  }
  // Ours, or the time daemon's (root's), and made so: a segment another user made or may write
  // feeds the clock whatever they like, whoever owns it now.
  for (const auto& [user, how] : {std::pair(status.shm_perm.uid, "belongs to"),
                                  std::pair(status.shm_perm.cuid, "was made by")}) {
    if (user != ::geteuid() && user != 0) {
      throw Failure(unit, std::string("it ") + how + " user " + std::to_string(user));
    }
  }
  if (roots && (status.shm_perm.mode & 0022) != 0) {
    throw Failure(unit, "others than its owner may write it");
  }
  TakeUnit(unit);
  void* attached = ::shmat(id, nullptr, 0);
  if (attached == reinterpret_cast<void*>(-1)) {
    const int error = errno;
    ::close(std::exchange(writer_lock_, -1));
    throw Failure(unit, std::generic_category().message(error));
  }
  segment_ = attached;
}

NtpShm::~NtpShm() {
  ::shmdt(segment_);
  if (writer_lock_ >= 0) ::close(writer_lock_);
}

void NtpShm::TakeUnit(int unit) {
  // One writer a unit: a name in the abstract socket space, held while the segment is written
  // and let go with the process, however it ends.
  writer_lock_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (writer_lock_ < 0) throw Failure(unit, std::generic_category().message(errno));
  sockaddr_un name{};
  name.sun_family = AF_UNIX;
  const std::string path = "quorvane-gps/ntp-shm/" + std::to_string(unit);
  path.copy(name.sun_path + 1, sizeof name.sun_path - 2);
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + path.size());
  if (::bind(writer_lock_, reinterpret_cast<const sockaddr*>(&name), length) != 0) {
    const int error = errno;
    ::close(writer_lock_);
    writer_lock_ = -1;
    throw Failure(unit, error == EADDRINUSE ? "another program writes it already"
                                            : std::generic_category().message(error));
  }
}

bool NtpShm::Write(const Fix& fix) {
  const auto named = UtcTimePoint(fix);
  if (!fix.HasFix() || !named || !fix.received) return false;
  Segment& shm = *static_cast<Segment*>(segment_);
  // The reader takes a sample only while valid is set and count is the same before and after
  // its read: valid is cleared and count moved on around the writing.
  shm.valid = 0;
  std::atomic_thread_fence(std::memory_order_seq_cst);
  shm.count = shm.count + 1;
  std::atomic_thread_fence(std::memory_order_seq_cst);
  shm.mode = 1;
  Split(*named, shm.clock_seconds, shm.clock_microseconds, shm.clock_nanoseconds);
  Split(*fix.received - sentence_delay_, shm.receive_seconds, shm.receive_microseconds,
        shm.receive_nanoseconds);
  shm.leap = 0;
  shm.precision = kPrecision;
  shm.samples = 3;
  std::atomic_thread_fence(std::memory_order_seq_cst);
  shm.count = shm.count + 1;
  std::atomic_thread_fence(std::memory_order_seq_cst);
  shm.valid = 1;
  ++samples_;
  return true;
}

void RegisterTimeSinks(SinkFactory& factory) {
  factory.Register(
      "shm",
      "shm:UNIT[?offset=SECONDS] (each epoch's time for chrony's \"refclock SHM UNIT\", the "
      "sentences' delay taken off)",
      [](const SinkText& text, const SinkContext& context) {
        text.OnlyOptions({"offset"});
        // The clock follows one receiver the user named: not whoever may publish to a fleet's
        // topics, and not a log, whose times are long past.
        if (!context.fleet.empty()) {
          text.Refuse(
              "a fleet's vehicles send whatever time they like: the clock takes its time "
              "from one receiver of this machine");
        }
        if (context.replay) text.Refuse("a replayed log's times are not now");
        const auto unit = ReadStrict(text.rest);
        if (!unit || *unit != std::floor(*unit) || *unit < 0 || *unit > NtpShm::kMostUnit) {
          text.Refuse("the unit must be a number from 0 to " + std::to_string(NtpShm::kMostUnit));
        }
        const auto offset = ReadStrict(text.Option("offset", "0"));
        if (!offset || !std::isfinite(*offset) || std::abs(*offset) > 10) {
          text.Refuse("the offset must be a number of seconds from -10 to 10");
        }
        return MadeOf(std::make_shared<NtpShm>(static_cast<int>(*unit),
                                               std::chrono::duration<double>(*offset)));
      });
}

}  // namespace quorvane
