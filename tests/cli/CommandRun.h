#pragma once

// Runs qirn-scan in this process and captures what it writes.

#include "tests/TestDoubles.h"

#include <string>
#include <string_view>
#include <vector>

namespace qirn::test {

std::string Sha256Of(std::string_view content);

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

Outcome RunScan(const std::vector<std::string>& args);

// The same, as a user without any privilege (nobody) when this one has them:
// permissions then bind as they do for an ordinary user.
Outcome RunScanUnprivileged(const std::vector<std::string>& args);

}  // namespace qirn::test
