#include "engine/remedy/FileRemoval.h"

namespace qirn {

RemovalResult RemoveDetectedFile(const DetectedFile& detected)
{
    const Seizure seizure = SeizeDetectedFile(detected);
    return seizure.held ? seizure.held->Remove() : seizure.result;
}

}  // namespace qirn
