#include "cli/ScanCommand.h"
#include "engine/platform/Console.h"
#include "engine/platform/Platform.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    qirn::PrepareCommandLineProcess();
    // Ctrl-C ends the walk with a summary; a closed pipe is a failed write.
    qirn::CatchInterrupts();
    static char outputBuffer[1 << 16];
    std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);
    const std::vector<std::string> args = qirn::ProgramArguments(argc, argv);
    return qirn::RunScanCommand(args, stdout, stderr);
}
