#pragma once

// The digest cache as qirn-scan uses it: opened unless --no-cache, and the
// whole of a --rematch run.

#include "cli/ScanOptions.h"
#include "engine/DigestCache.h"

#include <cstdio>
#include <memory>

namespace qirn {

// What the cache has to say, as qirn-scan says it on err.
DigestCache::Notice PrintedNotice(std::FILE* err);
// Null with --no-cache; what keeps the cache from being used goes to notice.
std::unique_ptr<DigestCache> OpenDigestCache(const ScanOptions& options, DigestCache::Notice notice);

int RunRematch(const ScanOptions& options, std::FILE* out, std::FILE* err);

}  // namespace qirn
