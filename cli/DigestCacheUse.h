#pragma once

// The digest cache as qirn-scan uses it: opened unless --no-cache, and the
// whole of a --rematch run.

#include "cache/KeptDigests.h"
#include "cli/ScanOptions.h"

#include <cstdio>
#include <memory>

namespace qirn {

// What the cache has to say, as qirn-scan says it on err.
KeptDigests::Notice PrintedNotice(std::FILE* err);
// Null with --no-cache and where the build keeps no cache; what keeps the
// cache from being used goes to notice.
std::unique_ptr<KeptDigests> OpenDigestCache(const ScanOptions& options, KeptDigests::Notice notice);

int RunRematch(const ScanOptions& options, std::FILE* out, std::FILE* err);

}  // namespace qirn
