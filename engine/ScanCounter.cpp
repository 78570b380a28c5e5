#include "engine/ScanCounter.h"

namespace qirn {

void ScanCounter::Reset()
{
    batches_ = 0;
    pending_.clear();
    total_.SetCaption("Not available");
}

void ScanCounter::Advance(std::string_view fileName)
{
    pending_.emplace_back(fileName);
    total_.SetCaption(std::to_string(Total()));
    if (pending_.size() == kBatch) {
        batches_ += kBatch;
        pending_.clear();
    }
}

}  // namespace qirn
