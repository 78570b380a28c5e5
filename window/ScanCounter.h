#pragma once

#include "window/Controls.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qirn {

// The scanned-object counter: the names counted since the last full batch of
// five, the count in completed batches, and the running total on a label.
class ScanCounter {
public:
    static constexpr std::size_t kBatch = 5;

    explicit ScanCounter(Caption& total) : total_(total) { }

    // Batches "0", no names, the label "Not available".
    void Reset();
    void Advance(std::string_view fileName);

    std::uint64_t Total() const { return batches_ + pendingCount_; }
    std::uint64_t Batches() const { return batches_; }
    std::vector<std::string> Pending() const { return {pending_.begin(), pending_.begin() + pendingCount_}; }

private:
    Caption& total_;
    std::uint64_t batches_ = 0;
    std::array<std::string, kBatch> pending_;
    std::size_t pendingCount_ = 0;
};

}  // namespace qirn
