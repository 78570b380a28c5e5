#include "cli/SigTool.h"
#include "engine/platform/Console.h"
#include "engine/platform/Platform.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    qirn::PrepareCommandLineProcess();
    // sa.kvd goes to standard output with its CR LF exactly.
    qirn::WriteBytesUnchanged(stdout);
    static char outputBuffer[1 << 16];
    std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);
    const std::vector<std::string> args = qirn::ProgramArguments(argc, argv);
    return qirn::RunSigTool(args, stdout, stderr);
}
