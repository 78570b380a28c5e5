#pragma once

// Runs a command in this process with standard output and error in files,
// and returns what it wrote there.

#include <cstdio>
#include <functional>
#include <string>

namespace qirn::test {

struct Captured {
    int status = -1;
    std::string out;
    std::string err;
};

Captured CaptureStreams(const std::function<int(std::FILE* out, std::FILE* err)>& run);

}  // namespace qirn::test
