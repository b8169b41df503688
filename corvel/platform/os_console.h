// Console primitives for the prompts: whether standard input is a terminal,
// dropping typed-ahead input, and reading single keys without echo.
//
// On POSIX the key mode is the terminal's non-canonical mode with echo, signal
// keys and the literal-next key switched off, so Ctrl-C and Ctrl-D arrive as
// the key codes 3 and 4 instead of killing the program with echo still off or
// ending the input. Keys are read through the C library's standard input, the
// same buffer std::cin reads through. The terminal's erase key (usually DEL,
// 127) is reported as 8, the backspace code of the Windows console.
#pragma once

#include <memory>

namespace corvel::platform
{

// True when standard input is a terminal (a console on Windows).
bool stdinIsTerminal();
// The same for standard error (where progress lines are shown only then).
bool stderrIsTerminal();

// Drops input already typed on the terminal and not yet read, including what
// the C library holds in its buffer. Nothing happens when standard input is
// not a terminal: a file or pipe holds answers given in advance, not typing.
void discardConsoleInput();

// Puts the terminal into key mode for its lifetime and restores the mode it
// found on destruction, on every path out of the scope that owns it. When
// standard input is not a terminal it changes nothing and isConsole is false.
class ConsoleKeyReader
{
public:
    ConsoleKeyReader();
    ~ConsoleKeyReader();
    ConsoleKeyReader(const ConsoleKeyReader&) = delete;
    ConsoleKeyReader& operator=(const ConsoleKeyReader&) = delete;

    // True when key mode is in force.
    bool isConsole() const { return itsSaved != nullptr; }

    // The next key code, 0 to 255, or -1 at end of input or on a read error.
    int readKey();

private:
    struct SavedMode;
    std::unique_ptr<SavedMode> itsSaved;
};

} // namespace corvel::platform
