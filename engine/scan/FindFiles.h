#pragma once

#include "engine/scan/DigestLookup.h"
#include "engine/scan/ScanSink.h"

#include <cstdint>
#include <stop_token>
#include <string>
#include <string_view>

namespace qirn {
class Folder;
class SignatureList;
}  // namespace qirn

namespace mdlFindFiles {

// Files longer than this are not digested unless a scan asks for another limit.
inline constexpr std::int32_t kSizeLimit = 83000;
// The largest limit a scan takes: a file is read whole, with one byte more
// to see that it is longer.
inline constexpr std::int32_t kLargestSizeLimit = 2147483646;
inline constexpr std::string_view kAllFiles = "*.*";

struct ScanRequest {
    const qirn::SignatureList& signatures;
    qirn::ScanSink& sink;
    // A stop lets the file being examined finish; the walk returns before the next.
    std::stop_token stop;
    std::int32_t sizeLimit = kSizeLimit;
    // With jobs > 1, files are read and digested on that many threads; the
    // sink still hears of them in walk order, on the calling thread.
    unsigned jobs = 1;
    const qirn::WalkFilter* filter = nullptr;
    qirn::DigestLookup* cache = nullptr;  // digests kept between scans, when used
    // MD5 of many files at once in vector lanes, where the processor has
    // them: files are read as they are handed out, but the sink hears of
    // them (Examined) only once their lane ends, up to a few thousand files
    // after Next.
    bool lanes = false;
};

// Walks folderPath depth first: each folder's files, then its subfolders.
// Every file of at most sizeLimit bytes is digested, matched against the
// signature list and told to the sink. Unreadable files and folders are
// told and skipped.
void FindFiles(const std::string& folderPath, std::string_view pattern, const ScanRequest& request);

// The same walk over an already open top folder.
void FindFiles(qirn::Folder& top, const std::string& folderPath, std::string_view pattern, const ScanRequest& request);

}  // namespace mdlFindFiles
