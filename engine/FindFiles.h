#pragma once

#include "engine/ScanElements.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace mdlFindFiles {

namespace detail {
inline std::int16_t stopScan = 0;
}  // namespace detail

// -1 asks a running walk to stop; 0 lets it run. Read-only here: written
// only by RequestStop and ClearStop.
inline const std::int16_t& StopScan = detail::stopScan;

// Asks a running walk to return before its next file.
inline void RequestStop()
{
    detail::stopScan = -1;
}

// Lets the next walk run; every scan starts with it.
inline void ClearStop()
{
    detail::stopScan = 0;
}

inline constexpr std::int32_t kSizeLimit = 83000;
inline constexpr std::string_view kAllFiles = "*.*";

// Walks folderPath depth first: each folder's files, then its subfolders.
// Every file of at most sizeLimit bytes is digested, matched against the
// signature list and counted. Unreadable files and folders are skipped.
//
// With jobs > 1, files are read and digested on that many threads; hits,
// counts and problems still come in walk order. The caption, the yield and
// the stop test then happen when a file is handed out, so that mode is for
// headless scans.
void FindFiles(const std::string& folderPath, std::string_view pattern, std::int32_t sizeLimit,
    const qirn::ScanElements& elements, unsigned jobs = 1);

// The same walk over an already open top folder.
void FindFiles(qirn::Folder& top, const std::string& folderPath, std::string_view pattern, std::int32_t sizeLimit,
    const qirn::ScanElements& elements, unsigned jobs = 1);

}  // namespace mdlFindFiles
