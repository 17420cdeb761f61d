#pragma once
// Named entries kept in the order they were last used, bounded: past `most` the entry used
// longest ago is forgotten to make room. For tables keyed by what peers send (stream names,
// vehicles), which must never grow without end.

#include <cstddef>
#include <list>
#include <string>
#include <unordered_map>
#include <utility>

namespace quorvane {

template <typename Value>
class RecentTable {
 public:
  using Entry = std::pair<const std::string, Value>;

  explicit RecentTable(size_t most) : most_(most) {}

  // The entry of `name`, made by `make()` when it is new; it becomes the most recent.
  template <typename Make>
  Value& Use(const std::string& name, Make&& make) {
    if (const auto found = index_.find(name); found != index_.end()) {
      entries_.splice(entries_.begin(), entries_, found->second);
      return found->second->second;
    }
    if (entries_.size() == most_) {
      index_.erase(entries_.back().first);
      entries_.pop_back();
    }
    entries_.emplace_front(name, make());
    index_.emplace(name, entries_.begin());
    return entries_.front().second;
  }
  // The entry of `name` without making or reordering it; null when there is none.
  Value* Find(const std::string& name) {
    const auto found = index_.find(name);
    return found == index_.end() ? nullptr : &found->second->second;
  }

  size_t Size() const { return entries_.size(); }
  // The most recently used first.
  auto begin() const { return entries_.begin(); }
  auto end() const { return entries_.end(); }

 private:
  size_t most_;
  std::list<Entry> entries_;
  std::unordered_map<std::string, typename std::list<Entry>::iterator> index_;
};

}  // namespace quorvane
