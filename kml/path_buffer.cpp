#include "kml/path_buffer.hpp"

#include <algorithm>

namespace quorvane {

void PathBuffer::Append(std::string_view text) {
  if (pieces_.empty() || pieces_.back().size() + text.size() > kPieceSize) {
    pieces_.emplace_back().reserve(std::max(kPieceSize, text.size()));
  }
  pieces_.back().append(text);
  size_ += text.size();
}

std::string PathBuffer::Text() const {
  std::string text;
  text.reserve(size_);
  for (const auto& piece : pieces_) text += piece;
  return text;
}

}  // namespace quorvane
