#pragma once
// Named entries kept in the order they were last used, bounded: past `most` the entry used
// longest ago is forgotten to make room. For tables keyed by what peers send (stream names,
// vehicles), which must never grow without end.

#include <cstddef>
#include <list>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace quorvane {

template <typename Value>
class RecentTable {
 public:
  using Entry = std::pair<const std::string, Value>;
  using Entries = std::list<Entry>;

  explicit RecentTable(size_t most) : most_(most) {}

  struct Used {
    Value& value;
    bool made;  // new to the table
  };
  // The entry of `name`, made by `make()` when it is new; it becomes the most recent. To make
  // room the entry used longest ago is taken out of the table and then shown to `forget`, which
  // may therefore use the table itself (even clear it).
  template <typename Make, typename Forget>
  Used Use(std::string_view name, Make&& make, Forget&& forget) {
    if (const auto found = index_.find(name); found != index_.end()) {
      entries_.splice(entries_.begin(), entries_, found->second);
      return {found->second->second, false};
    }
    if (entries_.size() >= most_) {
      Entries oldest;
      oldest.splice(oldest.end(), entries_, std::prev(entries_.end()));
      index_.erase(oldest.front().first);
      forget(oldest.front().second);
    }
    Entry& made = entries_.emplace_front(std::string(name), make());
    index_.emplace(made.first, entries_.begin());
    return {made.second, true};
  }
  template <typename Make>
  Value& Use(std::string_view name, Make&& make) {
    return Use(name, std::forward<Make>(make), [](const Value&) {}).value;
  }
  // The entry of `name` without making or reordering it; null when there is none.
  Value* Find(std::string_view name) {
    const auto found = index_.find(name);
    return found == index_.end() ? nullptr : &found->second->second;
  }
  // Every entry, taken out of the table in the order of use.
  Entries TakeAll() {
    index_.clear();
    Entries all;
    all.splice(all.end(), entries_);
    return all;
  }

  size_t Size() const { return entries_.size(); }
  // The most recently used first.
  auto begin() const { return entries_.begin(); }
  auto end() const { return entries_.end(); }
  auto begin() { return entries_.begin(); }
  auto end() { return entries_.end(); }

 private:
  size_t most_;
  Entries entries_;
  // Keyed by views of the entries' own names, which a list never moves.
  std::unordered_map<std::string_view, typename Entries::iterator> index_;
};

}  // namespace quorvane
