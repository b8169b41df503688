#include "corvel/platform/os_console.h"

#include <conio.h>
#include <cstdio>
#include <io.h>

#include <windows.h>

namespace corvel::platform
{

struct ConsoleKeyReader::SavedMode
{
    HANDLE itsInput;
    DWORD itsMode;
};

static HANDLE consoleInput()
{
    HANDLE theInput = GetStdHandle(STD_INPUT_HANDLE);
    DWORD theMode = 0;
    if (theInput == nullptr || theInput == INVALID_HANDLE_VALUE ||
        !GetConsoleMode(theInput, &theMode))
        return nullptr;
    return theInput;
}

bool stdinIsTerminal() { return _isatty(_fileno(stdin)) != 0 && consoleInput() != nullptr; }

bool stderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

void discardConsoleInput()
{
    HANDLE theInput = consoleInput();
    if (theInput == nullptr || _isatty(_fileno(stdin)) == 0)
        return;
    // The C run-time's buffer first (fflush on an input stream drops it in
    // the Microsoft run-time), then the keys the console still holds.
    std::fflush(stdin);
    FlushConsoleInputBuffer(theInput);
}

ConsoleKeyReader::ConsoleKeyReader()
{
    if (!stdinIsTerminal())
        return;
    HANDLE theInput = consoleInput();
    DWORD theMode = 0;
    if (theInput == nullptr || !GetConsoleMode(theInput, &theMode))
        return;
    // Without processed input Ctrl-C arrives as key 3 instead of ending the
    // program while the answer is hidden; _getch itself never echoes.
    if (!SetConsoleMode(theInput, theMode & ~static_cast<DWORD>(ENABLE_PROCESSED_INPUT)))
        return;
    itsSaved = std::make_unique<SavedMode>(SavedMode{theInput, theMode});
}

ConsoleKeyReader::~ConsoleKeyReader()
{
    if (itsSaved != nullptr)
        SetConsoleMode(itsSaved->itsInput, itsSaved->itsMode);
}

int ConsoleKeyReader::readKey()
{
    if (itsSaved == nullptr)
    {
        const int theKey = std::getchar();
        return theKey == EOF ? -1 : theKey;
    }
    return _getch() & 0xFF;
}

} // namespace corvel::platform
