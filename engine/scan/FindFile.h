#pragma once

// A single file named by the user, examined as the walk examines each file.

#include "engine/scan/FindFiles.h"

#include <string>

namespace mdlFindFiles {

// Examines name in folder (whose path, separator included, is folderPath)
// and tells the sink what became of it, exactly as the walk would: the
// same events, the same matching, the same cache use.
void FindFile(qirn::Folder& folder, const std::string& folderPath, const std::string& name, const ScanRequest& request);

}  // namespace mdlFindFiles
