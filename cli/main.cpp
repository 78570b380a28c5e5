#include "cli/ScanCommand.h"
#include "engine/Console.h"

#include <cstdio>
#include <string>
#include <sys/resource.h>
#include <vector>

int main(int argc, char** argv)
{
    // Each level of a deep tree holds one open folder.
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
    }
    // Ctrl-C ends the walk with a summary; a closed pipe is a failed write.
    qirn::CatchInterrupts();
    static char outputBuffer[1 << 16];
    std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);
    const std::vector<std::string> args(argv + 1, argv + argc);
    return qirn::RunScanCommand(args, stdout, stderr);
}
