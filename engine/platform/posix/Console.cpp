#include "engine/platform/Console.h"

#include <csignal>
#include <sys/ioctl.h>
#include <unistd.h>

namespace qirn {

namespace {

volatile std::sig_atomic_t interruptSignal = 0;

extern "C" void NoteInterrupt(int signal)
{
    interruptSignal = signal;
}

}  // namespace

void CatchInterrupts()
{
    struct sigaction action { };
    action.sa_handler = NoteInterrupt;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

int InterruptSignal()
{
    return interruptSignal;
}

bool IsTerminal(std::FILE* stream)
{
    return ::isatty(::fileno(stream)) == 1;
}

void WriteBytesUnchanged(std::FILE*)
{
    // POSIX streams never translate line ends.
}

unsigned TerminalColumns(std::FILE* stream)
{
    winsize size{};
    if (::ioctl(::fileno(stream), TIOCGWINSZ, &size) != 0)
        return 0;
    return size.ws_col;
}

}  // namespace qirn
