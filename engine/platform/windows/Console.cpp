#include "engine/platform/Console.h"

#include <windows.h>

#include <csignal>
#include <io.h>

namespace qirn {

namespace {

volatile std::sig_atomic_t interruptSignal = 0;

// Runs on a thread of its own; only the flag is touched.
BOOL WINAPI NoteInterrupt(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        interruptSignal = SIGINT;
        return TRUE;
    case CTRL_CLOSE_EVENT:
        interruptSignal = SIGTERM;
        return TRUE;
    default:
        return FALSE;
    }
}

HANDLE ConsoleOf(std::FILE* stream)
{
    return reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
}

}  // namespace

void CatchInterrupts()
{
    // A write to a closed pipe already fails with an error on Windows.
    ::SetConsoleCtrlHandler(NoteInterrupt, TRUE);
}

int InterruptSignal()
{
    return interruptSignal;
}

bool IsTerminal(std::FILE* stream)
{
    DWORD mode = 0;
    return ::GetConsoleMode(ConsoleOf(stream), &mode) != 0;
}

void WriteBytesUnchanged(std::FILE* stream)
{
    // _O_BINARY, which only <fcntl.h> names.
    constexpr int kBinary = 0x8000;
    std::fflush(stream);
    ::_setmode(::_fileno(stream), kBinary);
}

unsigned TerminalColumns(std::FILE* stream)
{
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (::GetConsoleScreenBufferInfo(ConsoleOf(stream), &info) == 0)
        return 0;
    return static_cast<unsigned>(info.srWindow.Right - info.srWindow.Left + 1);
}

}  // namespace qirn
