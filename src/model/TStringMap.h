#pragma once
// Name-to-object list: insertion-ordered, names compared ignoring letter case.
// It refers to its objects and never owns them.

#include <cstddef>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "model/TextConvert.h"

namespace korva {

template <typename T>
class TStringMap {
public:
    // A name already present keeps its first spelling and position; only the object is replaced.
    void Add(const std::string& name, T* object) {
        auto [it, inserted] = index_.try_emplace(FoldCase(name), entries_.size());
        if (inserted)
            entries_.emplace_back(name, object);
        else
            entries_[it->second].second = object;
    }

    int IndexOf(const std::string& name) const {
        auto it = index_.find(FoldCase(name));
        return it == index_.end() ? -1 : static_cast<int>(it->second);
    }
    T* Find(const std::string& name) const {
        const int i = IndexOf(name);
        return i < 0 ? nullptr : entries_[static_cast<std::size_t>(i)].second;
    }

    std::size_t Count() const { return entries_.size(); }
    const std::string& Name(std::size_t i) const { return entries_.at(i).first; }
    T* Object(std::size_t i) const { return entries_.at(i).second; }
    void Clear() {
        entries_.clear();
        index_.clear();
    }

    auto begin() const { return entries_.begin(); }
    auto end() const { return entries_.end(); }

private:
    std::vector<std::pair<std::string, T*>> entries_;
    std::unordered_map<std::string, std::size_t> index_;
};

}  // namespace korva
