#pragma once
// A raw log of a receiver: every sentence received, as received, one to a line (CR LF, as
// receivers send them), handed to the disk once per received block. What it writes replays
// with --replay or file:. A fleet's vehicles each get a log of their own (FOLDER/*.nmea).

#include <string>
#include <string_view>
#include <vector>

#include "base/replaced_file.hpp"
#include "receiver/sinks.hpp"
#include "sinks/output.hpp"

namespace quorvane {

class NmeaLog final : public EpochSink, public Output {
 public:
  // Opens `path` (only a regular file there is replaced); the failure, or an empty text.
  std::string Open(const std::string& path);
  // Told once when the log cannot be written; it takes nothing more then.
  void OnFailure(std::function<void(const std::string&)> handler) {
    on_failure_ = std::move(handler);
  }

  void TakeSentence(std::string_view sentence, const std::string& stream) override;
  void EndOfBlock() override;
  std::vector<std::string> Close() override;

 private:
  void SayFailure();

  ReplacedFile file_;
  std::function<void(const std::string&)> on_failure_;
};

}  // namespace quorvane
