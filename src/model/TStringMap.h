#pragma once
// Name-to-object list: insertion-ordered, names compared ignoring letter case.
// It refers to its objects and never owns them.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "model/TextConvert.h"

namespace korva {

template <typename T>
class TStringMap {
  public:
    // A name already present keeps its first spelling and position; only the object is replaced.
    void Add(const std::string& name, T* object) {
        const auto it = LowerBound(name);
        if (it != byName_.end() && SameIgnoringCase(entries_[*it].first, name)) {
            entries_[*it].second = object;
            return;
        }
        byName_.insert(it, static_cast<std::uint32_t>(entries_.size()));
        entries_.emplace_back(name, object);
    }

    int IndexOf(std::string_view name) const {
        const auto it = LowerBound(name);
        return it != byName_.end() && SameIgnoringCase(entries_[*it].first, name) ? static_cast<int>(*it)
                                                                                  : -1;
    }
    T* Find(std::string_view name) const {
        const int i = IndexOf(name);
        return i < 0 ? nullptr : entries_[static_cast<std::size_t>(i)].second;
    }

    std::size_t Count() const { return entries_.size(); }
    const std::string& Name(std::size_t i) const { return entries_.at(i).first; }
    T* Object(std::size_t i) const { return entries_.at(i).second; }
    void Clear() {
        entries_.clear();
        byName_.clear();
    }

    auto begin() const { return entries_.begin(); }
    auto end() const { return entries_.end(); }

  private:
    static bool FoldedLess(std::string_view a, std::string_view b) {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
            return static_cast<unsigned char>(FoldChar(x)) < static_cast<unsigned char>(FoldChar(y));
        });
    }
    std::vector<std::uint32_t>::const_iterator LowerBound(std::string_view name) const {
        return std::lower_bound(
            byName_.begin(), byName_.end(), name,
            [this](std::uint32_t i, std::string_view n) { return FoldedLess(entries_[i].first, n); });
    }

    std::vector<std::pair<std::string, T*>> entries_;
    // Entry positions in folded-name order: lookups by halving, without a second copy of each name.
    std::vector<std::uint32_t> byName_;
};

}  // namespace korva
