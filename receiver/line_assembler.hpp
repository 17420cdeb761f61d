#pragma once
// Cuts received text into NMEA sentences. A sentence runs from a "$" up to and including the
// CR of the next CR LF pair; a "$" always starts a new one, so a sentence that lost its end is
// dropped rather than spliced with the next. Text outside such spans (the LF of the previous
// pair, noise, the tail of a sentence cut when the port opened) is dropped when the next
// sentence is cut out, and an unfinished sentence waits for the next block.
//
// Each search resumes where the previous one gave up, so the work is linear in the text given.
// The pending text is bounded: a source that never sends CR LF loses its oldest text, never
// memory without end.

#include <cstddef>
#include <string>
#include <string_view>

namespace quorvane {

class LineAssembler {
 public:
  static constexpr size_t kDefaultPendingLimit = 64 * 1024;

  explicit LineAssembler(size_t pending_limit = kDefaultPendingLimit)
      : pending_limit_(pending_limit) {}

  // Appends `block` and hands every complete sentence in the pending text to `on_sentence`, in
  // order. The view is valid only during the call, and `on_sentence` must not feed this
  // assembler.
  template <typename SentenceHandler>
  void Feed(std::string_view block, SentenceHandler&& on_sentence) {
    pending_.append(block);
    size_t start = 0;
    for (;;) {
      const size_t dollar = FindDollar(start);
      if (dollar == std::string::npos) break;
      const size_t carriage_return = FindCrLf(start);
      if (carriage_return == std::string::npos) break;
      if (carriage_return > dollar) {
        // The last "$" before the line end: one before it began a sentence that never ended.
        size_t begins = dollar;
        for (size_t next; (next = pending_.find('$', begins + 1)) < carriage_return;) begins = next;
        on_sentence(std::string_view(pending_).substr(begins, carriage_return - begins + 1));
      }
      start = carriage_return + 1;  // the pending text now begins with the pair's LF
    }
    DropFront(start);
    if (pending_.size() > pending_limit_) DropFront(pending_.size() - pending_limit_);
    // One huge block leaves no huge buffer behind it (many assemblers may be kept).
    if (pending_.capacity() > 2 * pending_limit_ + kSlack) pending_.shrink_to_fit();
  }

  std::string_view PendingText() const { return pending_; }

 private:
  size_t FindDollar(size_t start);
  size_t FindCrLf(size_t start);
  void DropFront(size_t count);

  static constexpr size_t kSlack = 4096;

  std::string pending_;
  size_t pending_limit_;
  // No "$" lies in [start, dollar_scanned_), no CR LF pair begins in [start, crlf_scanned_):
  // what was searched once is not searched again.
  size_t dollar_scanned_ = 0;
  size_t crlf_scanned_ = 0;
};

}  // namespace quorvane
