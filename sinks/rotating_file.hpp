#pragma once
// A file output begun anew from time to time. Its name may be a pattern of the receiver's UTC
// time, strftime's fields in the file's name ("tracks/%Y-%m-%d.gpx"): a fix whose time gives
// another name finishes the file and begins the next one, so each file is complete and holds its
// day (or hour, when the pattern names hours). Reopen finishes the file and begins a new one
// under the name it has now (SIGHUP, once logrotate moved the file away). A new file never
// writes over one that is there: it takes "-2", "-3", ... before its extension.

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "receiver/sinks.hpp"
#include "sinks/output.hpp"

namespace quorvane {

struct MadeSink;

// What is wrong with `pattern` as a rotating file's name (its fields only in the file's last
// part, each one that gives no "/", at least one that is a time), or empty. A name without "%"
// is no pattern and always fine.
std::string PatternFault(std::string_view pattern);

// The pattern's name for the time `iso_time` ("2026-12-08T12:00:00.000Z"); nullopt when the time
// cannot be read.
std::optional<std::string> NameAt(const std::string& pattern, std::string_view iso_time);

class RotatingFile final : public EpochSink, public Output {
 public:
  // Opens the file at a path; throws what a file that cannot be opened throws.
  using Opener = std::function<MadeSink(const std::string& path)>;

  // A plain name's file is opened now (its failure thrown); a pattern's at the first time heard.
  // Before a live receiver tells the date, the clock's is taken; a recording's file waits for
  // its own.
  RotatingFile(std::string pattern, Opener open, std::function<void(const std::string&)> failed,
               bool live);

  void TakeEpoch(const Fix& fix, const std::string& stream) override;
  void TakeGga(const DecodedGga& gga) override;
  void TakeSentence(std::string_view sentence, const std::string& stream) override;
  void EndOfBlock() override;
  void SourceStopped() override;

  std::string State() const override;
  std::vector<std::string> Close() override;
  void Reopen() override;

 private:
  // The file the time `iso_time` names is the one written (a name with time fields).
  void FollowTime(std::string_view iso_time);
  void Begin(const std::string& name);
  // Finishes the open file; what it could not write is said.
  void Finish();

  std::string pattern_;
  bool rotates_;  // the name has time fields
  bool live_;
  Opener open_;
  std::function<void(const std::string&)> failed_;
  std::shared_ptr<Output> output_;
  std::shared_ptr<EpochSink> epochs_;
  std::string name_;  // what the pattern gave for the open file
};

}  // namespace quorvane
