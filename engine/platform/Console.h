#pragma once

// The console a command runs in: interrupt signals and terminals.

#include <cstdio>

namespace qirn {

// From now on an interrupt (Ctrl-C) or a termination request only sets a flag
// that InterruptSignal reads, and a write to a closed pipe fails with an error
// instead of ending the process.
void CatchInterrupts();

// The number of the signal that asked the program to end, or 0.
int InterruptSignal();

bool IsTerminal(std::FILE* stream);

// From now on stream writes its bytes unchanged: no LF to CR LF translation
// (Windows' text mode).
void WriteBytesUnchanged(std::FILE* stream);

// Columns of the terminal behind stream, or 0 when unknown.
unsigned TerminalColumns(std::FILE* stream);

}  // namespace qirn
