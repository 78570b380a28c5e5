#pragma once

// The digest cache as qirn-scan uses it: opened unless --no-cache, and the
// whole of a --rematch run.

#include "cli/ScanOptions.h"
#include "engine/DigestCache.h"

#include <cstdio>
#include <memory>

namespace qirn {

// Null with --no-cache; what keeps the cache from being used is said on err.
std::unique_ptr<DigestCache> OpenDigestCache(const ScanOptions& options, std::FILE* err);

int RunRematch(const ScanOptions& options, std::FILE* out, std::FILE* err);

}  // namespace qirn
