#pragma once
// The points of a path, as coordinate lines, kept in fixed-size pieces: a track of a million
// points grows by adding pieces, never by copying everything collected so far into a buffer
// twice the size.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane {

class PathBuffer {
 public:
  static constexpr size_t kPieceSize = 64 * 1024;

  void Append(std::string_view text);
  void Clear() {
    pieces_.clear();
    size_ = 0;
  }
  size_t size() const { return size_; }

  // The text in order, as views of its pieces.
  const std::vector<std::string>& Pieces() const { return pieces_; }
  std::string Text() const;

 private:
  std::vector<std::string> pieces_;
  size_t size_ = 0;
};

}  // namespace quorvane
