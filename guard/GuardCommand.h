#pragma once

// qirn-guard's command line: the service, or --status.

#include <cstdio>
#include <span>
#include <string>

namespace qirn {

// args are those after the program's name. The exit status: 0 after a stop by SIGTERM or SIGINT (or, for --status,
// when the guard runs), 2 for wrong use or a failed start, 3 for --status of
// a guard that does not run.
int RunGuardCommand(std::span<const std::string> args, std::FILE* out, std::FILE* err);

}  // namespace qirn
