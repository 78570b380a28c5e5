#pragma once

// qirn-sigtool import: hash lists in, sa.kvd out.

#include <cstdio>
#include <span>
#include <string>

namespace qirn {

int RunImport(std::span<const std::string> args, std::FILE* out, std::FILE* err);

}  // namespace qirn
