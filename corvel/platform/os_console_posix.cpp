#include "corvel/platform/os_console.h"

#include <cerrno>
#include <cstdio>
#include <stdio_ext.h>
#include <termios.h>
#include <unistd.h>

namespace corvel::platform
{

struct ConsoleKeyReader::SavedMode
{
    termios itsMode;
    int itsEraseKey;
};

bool stdinIsTerminal() { return isatty(STDIN_FILENO) == 1; }

bool stderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

void discardConsoleInput()
{
    if (!stdinIsTerminal())
        return;
    __fpurge(stdin);
    tcflush(STDIN_FILENO, TCIFLUSH);
}

ConsoleKeyReader::ConsoleKeyReader()
{
    if (!stdinIsTerminal())
        return;
    termios theMode{};
    if (tcgetattr(STDIN_FILENO, &theMode) != 0)
        return;
    auto theSaved = std::make_unique<SavedMode>();
    theSaved->itsMode = theMode;
    theSaved->itsEraseKey = theMode.c_cc[VERASE] == _POSIX_VDISABLE
                                ? -1
                                : static_cast<unsigned char>(theMode.c_cc[VERASE]);
    theMode.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO | ECHONL | ISIG | IEXTEN));
    theMode.c_cc[VMIN] = 1;
    theMode.c_cc[VTIME] = 0;
    // TCSADRAIN: the prompt written just before is shown in the old mode.
    if (tcsetattr(STDIN_FILENO, TCSADRAIN, &theMode) != 0)
        return;
    itsSaved = std::move(theSaved);
}

ConsoleKeyReader::~ConsoleKeyReader()
{
    if (itsSaved != nullptr)
        tcsetattr(STDIN_FILENO, TCSADRAIN, &itsSaved->itsMode);
}

int ConsoleKeyReader::readKey()
{
    for (;;)
    {
        errno = 0;
        const int theKey = std::getchar();
        if (theKey != EOF)
        {
            if (itsSaved != nullptr && theKey == itsSaved->itsEraseKey)
                return 8;
            return theKey;
        }
        // A signal handled while waiting is not the end of the input; each
        // retry needs another signal, so this does not spin.
        if (std::ferror(stdin) && errno == EINTR)
        {
            std::clearerr(stdin);
            continue;
        }
        return -1;
    }
}

} // namespace corvel::platform
