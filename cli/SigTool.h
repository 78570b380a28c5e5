#pragma once

#include <cstdio>
#include <span>
#include <string>

namespace qirn {

// qirn-sigtool with its arguments (program name excluded). Exit status 0 on
// success, 1 when a verification fails, 2 on bad input or arguments.
int RunSigTool(std::span<const std::string> args, std::FILE* out, std::FILE* err);

}  // namespace qirn
