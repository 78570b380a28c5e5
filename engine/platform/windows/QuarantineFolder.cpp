// Quarantine folders need a folder only this user may enter and moves that
// keep owner and permissions; the Windows build does not make them yet, so
// it refuses with a reason instead of moving files somewhere unprotected.

#include "engine/remedy/QuarantineFolder.h"

#include "engine/Failure.h"
#include "engine/platform/windows/Text.h"

#include <windows.h>

namespace qirn {

std::unique_ptr<QuarantineFolder> OpenQuarantineFolder(const std::filesystem::path& folder, bool /*create*/)
{
    throw Failure(ERROR_NOT_SUPPORTED,
        windows::Narrow(folder.native()) + ": quarantine folders are not available in the Windows build");
}

}  // namespace qirn
