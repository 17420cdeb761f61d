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

#include <algorithm>
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
    if (pending_.empty() || pending_ == "\n") {
      // Nothing waits but, at most, the LF that ended the last sentence: nothing in it can begin
      // or end a sentence, so the block's sentences are cut where they lie and only its
      // unfinished end is kept (a log's blocks of whole lines are never copied). What is kept,
      // and where the searches resume, are as if the block had been appended.
      const size_t lead = pending_.size();
      dollar_scanned_ = 0;
      crlf_scanned_ = 0;
      const size_t used = TakeSentences(block, on_sentence);
      dollar_scanned_ += lead;
      crlf_scanned_ += lead;
      const size_t total = lead + block.size();
      const size_t kept_from = std::max(used == 0 ? 0 : lead + used,
                                        total > pending_limit_ ? total - pending_limit_ : 0);
      if (kept_from < lead) {
        pending_.append(block);
      } else {
        pending_.clear();  // (assign would do, but GCC 12 warns falsely on it here)
        pending_.append(block.substr(kept_from - lead));
      }
      ForgetFront(kept_from);
    } else {
      pending_.append(block);
      DropFront(TakeSentences(pending_, on_sentence));
      if (pending_.size() > pending_limit_) DropFront(pending_.size() - pending_limit_);
    }
    // One huge block leaves no huge buffer behind it (many assemblers may be kept).
    if (pending_.capacity() > 2 * pending_limit_ + kSlack) pending_.shrink_to_fit();
  }

  std::string_view PendingText() const { return pending_; }

 private:
  // Hands each sentence of `text` whose line end has arrived to `on_sentence`; the length of
  // the text used up.
  template <typename SentenceHandler>
  size_t TakeSentences(std::string_view text, SentenceHandler& on_sentence) {
    size_t start = 0;
    // The first "$" from `start` on: the search for the last one before a line end goes on to
    // the first one after it, where the next sentence begins.
    size_t dollar = FindDollar(text, start);
    for (;;) {
      if (dollar == std::string::npos) break;
      const size_t carriage_return = FindCrLf(text, start);
      if (carriage_return == std::string::npos) break;
      if (carriage_return > dollar) {
        // The last "$" before the line end: one before it began a sentence that never ended.
        size_t begins = dollar;
        while ((dollar = FindDollar(text, begins + 1)) < carriage_return) begins = dollar;
        on_sentence(text.substr(begins, carriage_return - begins + 1));
      }
      start = carriage_return + 1;  // the text left now begins with the pair's LF
    }
    return start;
  }
  size_t FindDollar(std::string_view text, size_t start);
  size_t FindCrLf(std::string_view text, size_t start);
  void DropFront(size_t count);
  // The searches' marks once the first `count` characters of what they searched are gone.
  void ForgetFront(size_t count);

  static constexpr size_t kSlack = 4096;

  std::string pending_;
  size_t pending_limit_;
  // No "$" lies in [start, dollar_scanned_), no CR LF pair begins in [start, crlf_scanned_):
  // what was searched once is not searched again.
  size_t dollar_scanned_ = 0;
  size_t crlf_scanned_ = 0;
};

}  // namespace quorvane
