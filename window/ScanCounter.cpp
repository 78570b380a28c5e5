#include "window/ScanCounter.h"

namespace qirn {

void ScanCounter::Reset()
{
    batches_ = 0;
    pendingCount_ = 0;
    total_.SetCaption("Not available");
}

void ScanCounter::Advance(std::string_view fileName)
{
    // The names' storage is kept from batch to batch.
    pending_[pendingCount_++].assign(fileName);
    total_.SetCaption(std::to_string(Total()));
    if (pendingCount_ == kBatch) {
        batches_ += kBatch;
        pendingCount_ = 0;
    }
}

}  // namespace qirn
