#include "receiver/line_assembler.hpp"

#include <algorithm>

namespace quorvane {

size_t LineAssembler::FindDollar(std::string_view text, size_t start) {
  const size_t found = text.find('$', std::max(start, dollar_scanned_));
  dollar_scanned_ = found == std::string::npos ? text.size() : found;
  return found;
}

size_t LineAssembler::FindCrLf(std::string_view text, size_t start) {
  const size_t found = text.find("\r\n", std::max(start, crlf_scanned_));
  // A CR at the very end may still meet its LF in the next block.
  crlf_scanned_ = found == std::string::npos ? std::max(start, text.size() - 1) : found;
  return found;
}

void LineAssembler::DropFront(size_t count) {
  pending_.erase(0, count);
  ForgetFront(count);
}

void LineAssembler::ForgetFront(size_t count) {
  dollar_scanned_ = dollar_scanned_ > count ? dollar_scanned_ - count : 0;
  crlf_scanned_ = crlf_scanned_ > count ? crlf_scanned_ - count : 0;
}

}  // namespace quorvane
