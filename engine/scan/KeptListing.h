#pragma once

#include "engine/platform/FileSystem.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qirn {

// The entries of the folder being walked, kept from the listing that finds
// its subfolders for the pass over its files, so that a folder is listed
// once; a listing past the bound is listed again instead.
class KeptListing {
public:
    void Clear()
    {
        names_.clear();
        entries_.clear();
        whole_ = true;
        next_ = 0;
    }
    void Add(const FolderEntry& entry)
    {
        if (!whole_)
            return;
        if (names_.size() + entry.name.size() > kMaxNameBytes) {
            Clear();
            whole_ = false;
            return;
        }
        names_ += entry.name;
        entries_.push_back({names_.size(), entry.attributes});
    }
    bool Whole() const { return whole_; }
    bool Next(FolderEntry& entry)
    {
        if (next_ == entries_.size())
            return false;
        const std::size_t begin = next_ == 0 ? 0 : entries_[next_ - 1].nameEnd;
        entry.name = std::string_view(names_).substr(begin, entries_[next_].nameEnd - begin);
        entry.attributes = entries_[next_++].attributes;
        return true;
    }

private:
    static constexpr std::size_t kMaxNameBytes = std::size_t{256} << 10;
    struct Kept {
        std::size_t nameEnd = 0;
        unsigned attributes = 0;
    };
    std::string names_;
    std::vector<Kept> entries_;
    bool whole_ = true;
    std::size_t next_ = 0;
};

}  // namespace qirn
