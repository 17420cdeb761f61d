#pragma once
// The points of a path, as coordinate lines. A piece of text is kept in memory; with a spool
// file given, what goes beyond it is written there, so a path of a month of fixes takes no
// more memory than one of a minute. Without one (or when it cannot be used) the text is kept
// in memory in fixed-size pieces, never copied into a buffer twice the size.

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane {

class PathBuffer {
 public:
  static constexpr size_t kPieceSize = 64 * 1024;

  PathBuffer() = default;
  // The spool file goes with the buffer.
  ~PathBuffer();
  PathBuffer(const PathBuffer&) = delete;
  PathBuffer& operator=(const PathBuffer&) = delete;

  // From now on text beyond the piece in memory goes to `spool`, a regular file made or
  // emptied for it (what a crash left there is reused). Anything else at that path is left
  // alone and the text stays in memory.
  void SpoolTo(const std::filesystem::path& spool);
  void Append(std::string_view text);
  // Empties the buffer and removes its spool file.
  void Clear();
  size_t size() const { return size_; }

  // Hands the text on in order, in pieces.
  void ForEachPiece(const std::function<void(std::string_view)>& piece) const;
  std::string Text() const;

 private:
  void Spill();
  void CloseSpool();

  std::vector<std::string> pieces_;
  size_t size_ = 0;
  int spool_fd_ = -1;
  bool spool_writable_ = false;
  std::filesystem::path spool_path_;
  size_t spooled_ = 0;  // bytes of the text in the spool file, the oldest
};

}  // namespace quorvane
