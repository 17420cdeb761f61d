#pragma once
// A file that a new document replaces, written through a buffer of its own: only a regular file
// (or nothing) at the path is replaced, so that a folder, a FIFO or a device named by mistake is
// never touched; the first failure (open, write, flush) is kept with the path and the reason,
// and after a failed write the file is closed and takes nothing more.

#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane {

class ReplacedFile {
 public:
  // Opens `path` for writing, emptied; false when it cannot ("Cannot record to PATH: not a
  // regular file", "Cannot open PATH: reason" is then the failure). A file still open is closed.
  bool Open(const std::string& path);
  bool IsOpen() const { return file_.is_open(); }
  // The stream, for what writes through it (and seeks back in it).
  std::ofstream& Stream() { return file_; }
  void Write(std::string_view text) {
    file_.write(text.data(), static_cast<std::streamsize>(text.size()));
  }
  // Hands what is written to the file.
  void Flush();
  void Close();
  // The first failure since Open, or an empty text; taking it clears it.
  const std::string& Failure() const { return failure_; }
  std::string TakeFailure();

 private:
  void CheckWritten();

  // Small enough that a fleet of a thousand tracks keeps a thousand of them; a write a few
  // times a second costs a recording of one receiver nothing.
  std::vector<char> buffer_ = std::vector<char>(16 * 1024);
  std::ofstream file_;
  std::string path_;
  std::string failure_;
};

}  // namespace quorvane
