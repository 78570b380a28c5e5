#pragma once

#include <cstdio>
#include <span>
#include <string>

namespace qirn {

// qirn-sigtool with its arguments (program name excluded). Exit status 0 on
// success, 1 when a verification fails, 2 on bad input or arguments.
int RunSigTool(std::span<const std::string> args, std::FILE* out, std::FILE* err);

// Says what is wrong with the arguments in one line, and where the help is;
// returns exit status 2.
int UsageError(std::FILE* err, const std::string& problem);

}  // namespace qirn
