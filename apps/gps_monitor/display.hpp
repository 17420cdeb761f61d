#pragma once
// What gps-monitor shows: a dashboard redrawn in place on a terminal, one plain line per epoch
// elsewhere, or gpsd's JSON objects for pipes (or, on request, the control's properties per GGA).

#include <optional>
#include <ostream>
#include <string>
#include <unordered_map>
#include <vector>

#include "control/gps.hpp"

namespace quorvane::monitor {

struct Status {
  std::string source;          // what is being read, for the title
  std::string recording_file;  // empty when not recording
  double sentences_per_second = 0;
  std::optional<double> replay_share;  // 0 to 1 during a replay
  std::optional<double> seconds_left;
  std::string hearing;  // what arrives while no fix does
  // What each output is doing: "2 gpsd clients on 127.0.0.1:2947", "publishing to ...".
  std::vector<std::string> outputs;
  size_t vehicles = 0;  // an MQTT source's vehicles, and lines for the last heard
  std::vector<std::string> vehicle_lines;
};

// A fleet's vehicle on the dashboard: name, position, speed and how long ago it was heard.
std::string VehicleLine(const std::string& name, const Fix& last);

class Display {
 public:
  // kQuiet: nothing on standard output (a service, whose output is the journal).
  enum class Mode { kDashboard, kPlain, kJson, kProperties, kQuiet };

  Display(Mode mode, std::ostream& out) : mode_(mode), out_(out) {}

  Mode GetMode() const { return mode_; }
  // A GGA sentence was decoded (the properties' mode).
  void Properties(const GPS& gps);
  // A reporting cycle ended; `stream` names a fleet's vehicle.
  void Epoch(const Fix& fix, const std::string& stream);
  // Redraws the dashboard (dashboard mode only).
  void Frame(const GPS& gps, const Status& status);
  // Hands the properties' lines written so far on: once per received block, so that a fix never
  // waits for later input, and a fast replay still writes in large pieces.
  void Flush();
  // Leaves the terminal as it found it, below the last frame.
  void Close();

 private:
  std::vector<std::string> FixLines() const;

  Mode mode_;
  std::ostream& out_;
  bool drawn_ = false;
  Fix last_;  // the last epoch, for the dashboard
  std::string last_stream_;
  std::optional<UtcTime> last_fix_time_;  // of the last epoch with a fix
};

}  // namespace quorvane::monitor
