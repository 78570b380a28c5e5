#include "cli/SigTool.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    static char outputBuffer[1 << 16];
    std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);
    const std::vector<std::string> args(argv + 1, argv + argc);
    return qirn::RunSigTool(args, stdout, stderr);
}
