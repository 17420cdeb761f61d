#pragma once
// A pseudo-terminal standing in for a GPS receiver: the test writes at the master, the control
// reads the slave like any serial port.

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace quorvane::testing {

class PseudoTerminal {
 public:
  PseudoTerminal();
  ~PseudoTerminal();
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  const std::string& SlavePath() const { return slave_path_; }
  int SlaveDescriptor() const { return slave_; }

  // Assigns `number` to the slave in the port table (and removes it again on destruction).
  int16_t AssignTo(int16_t number);

  void Write(std::string_view bytes);
  // Everything that arrives at the master within `wait` of the last byte.
  std::string Read(std::chrono::milliseconds wait = std::chrono::milliseconds(200));
  // The receiver disappears: reads of the slave fail from now on.
  void CloseMaster();

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slave_path_;
  int16_t assigned_ = 0;
};

}  // namespace quorvane::testing
