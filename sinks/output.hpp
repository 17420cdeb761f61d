#pragma once
// What every output made from a user's text is, whatever it takes (epochs, blocks, a stream's
// sentences): something a status line can describe, that may still be delivering when the run
// ends, and that is closed once.

#include <string>
#include <vector>

namespace quorvane {

class Output {
 public:
  virtual ~Output() = default;
  // What it is doing, for a status line ("2 gpsd clients on 127.0.0.1:2947"), or empty.
  virtual std::string State() const { return {}; }
  // Ready to take what comes (a publisher connected to its broker): a log, which is no live
  // receiver, may wait a while for it so that all of it goes out.
  virtual bool Ready() const { return true; }
  // Something handed to it is still on its way (fixes a broker has not acknowledged yet).
  virtual bool Delivering() const { return false; }
  // Ends it: files finished, connections closed. What it could not deliver, each a sentence to
  // say (the run then failed); empty when everything went.
  virtual std::vector<std::string> Close() { return {}; }
  // Finishes its files and begins new ones (SIGHUP, once logrotate moved them away); an output
  // that writes no file ignores it.
  virtual void Reopen() {}
};

}  // namespace quorvane
