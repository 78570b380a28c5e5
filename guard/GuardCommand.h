#pragma once

// qirn-guard's command line: the service, or --status.

#include <cstdio>
#include <span>
#include <string>

namespace qirn {

// args are those after the program's name. The exit status: 0 after a stop
// by SIGTERM or SIGINT, 1 after a stop because events could no longer be
// read, 2 for wrong use or a failed start; for --status, 0 when the guard
// runs and 3 when it does not.
int RunGuardCommand(std::span<const std::string> args, std::FILE* out, std::FILE* err);

}  // namespace qirn
