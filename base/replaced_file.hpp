#pragma once
// A file that a new document replaces, written through a buffer of its own: only a regular file
// of one name (or nothing) at the path is replaced, and never through a symbolic link, so that a
// folder, a FIFO, a device, a link planted by a peer or a hard link to another file is never
// touched; while open, the file is locked (flock), so that a second recorder of the same file is
// refused rather than interleaved. The first failure (open, write, flush) is kept with the path
// and the reason, and after a failed write the file is closed and takes nothing more.

#include <ext/stdio_filebuf.h>

#include <memory>
#include <ostream>
#include <string>
#include <string_view>

namespace quorvane {

class ReplacedFile {
 public:
  // Opens `path` for writing, emptied; false when it cannot ("Cannot record to PATH: not a
  // regular file", "Cannot open PATH: reason" is then the failure). A file still open is closed.
  bool Open(const std::string& path);
  bool IsOpen() const { return buffer_ != nullptr; }
  // The stream, for what writes through it (and seeks back in it).
  std::ostream& Stream() { return stream_; }
  void Write(std::string_view text) {
    stream_.write(text.data(), static_cast<std::streamsize>(text.size()));
  }
  // Hands what is written to the file.
  void Flush();
  void Close();
  // The first failure since Open, or an empty text; taking it clears it.
  const std::string& Failure() const { return failure_; }
  std::string TakeFailure();

 private:
  void CheckWritten();
  void CloseDescriptor();

  // Small enough that a fleet of a thousand tracks keeps a thousand of them; a write a few
  // times a second costs a recording of one receiver nothing.
  static constexpr size_t kBufferSize = 16 * 1024;
  // Over the descriptor opened (and locked) here; closing it closes the file.
  std::unique_ptr<__gnu_cxx::stdio_filebuf<char>> buffer_;
  std::ostream stream_{nullptr};
  std::string path_;
  std::string failure_;
};

}  // namespace quorvane
