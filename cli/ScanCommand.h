#pragma once

#include <cstdio>
#include <span>
#include <string>

namespace qirn {

enum ScanExit : int { kNothingFound = 0, kFound = 1, kCannotScan = 2, kIncomplete = 3 };

// qirn-scan with its arguments (program name excluded); hits go to out,
// diagnostics and the summary to err.
int RunScanCommand(std::span<const std::string> args, std::FILE* out, std::FILE* err);

}  // namespace qirn
