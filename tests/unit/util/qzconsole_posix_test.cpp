// Hidden input from a real terminal: a pseudo-terminal becomes standard input
// of this test process, and the keys are typed on its master side once the
// terminal is in key mode.

#include "corvel/util/qzconsole.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "corvel/platform/os_console.h"

namespace
{

class PseudoTerminalInput : public ::testing::Test
{
protected:
    void SetUp() override
    {
        itsMaster = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(itsMaster, 0);
        ASSERT_EQ(grantpt(itsMaster), 0);
        ASSERT_EQ(unlockpt(itsMaster), 0);
        const int theSlave = open(ptsname(itsMaster), O_RDWR | O_NOCTTY);
        ASSERT_GE(theSlave, 0);
        itsSavedStdin = dup(STDIN_FILENO);
        ASSERT_EQ(dup2(theSlave, STDIN_FILENO), STDIN_FILENO);
        close(theSlave);
        std::clearerr(stdin);
        ASSERT_EQ(tcgetattr(STDIN_FILENO, &itsOriginal), 0);
    }

    void TearDown() override
    {
        // Keys typed past the line end sit in the C library's buffer.
        corvel::platform::discardConsoleInput();
        if (itsSavedStdin >= 0)
        {
            dup2(itsSavedStdin, STDIN_FILENO);
            close(itsSavedStdin);
        }
        std::clearerr(stdin);
        if (itsMaster >= 0)
            close(itsMaster);
    }

    // Types inKeys as soon as the terminal has left canonical mode: keys typed
    // before would be edited by the line discipline itself.
    std::thread typeInKeyMode(const std::string& inKeys)
    {
        return std::thread(
            [this, inKeys]
            {
                const auto theDeadline =
                    std::chrono::steady_clock::now() + std::chrono::seconds(20);
                termios theMode{};
                while (std::chrono::steady_clock::now() < theDeadline)
                {
                    if (tcgetattr(itsMaster, &theMode) == 0 && (theMode.c_lflag & ICANON) == 0)
                        break;
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
                // Typed even on time-out, so that the reader is never left waiting.
                const ssize_t theWritten = write(itsMaster, inKeys.data(), inKeys.size());
                (void)theWritten;
            });
    }

    termios currentMode() const
    {
        termios theMode{};
        tcgetattr(STDIN_FILENO, &theMode);
        return theMode;
    }

    // Bytes the terminal sent back (its echo), read without waiting.
    std::string echoed() const
    {
        const int theFlags = fcntl(itsMaster, F_GETFL);
        fcntl(itsMaster, F_SETFL, theFlags | O_NONBLOCK);
        std::string theEcho;
        char theBuffer[256];
        for (ssize_t n; (n = read(itsMaster, theBuffer, sizeof theBuffer)) > 0;)
            theEcho.append(theBuffer, static_cast<std::size_t>(n));
        fcntl(itsMaster, F_SETFL, theFlags);
        return theEcho;
    }

    int itsMaster = -1;
    int itsSavedStdin = -1;
    termios itsOriginal{};
};

} // namespace

TEST_F(PseudoTerminalInput, HiddenLineWithEraseKeyAndNoEcho)
{
    ASSERT_TRUE(corvel::platform::stdinIsTerminal());
    // The terminal's erase key (DEL on a fresh terminal) acts as backspace.
    std::string theKeys = "ab";
    theKeys += static_cast<char>(itsOriginal.c_cc[VERASE]);
    theKeys += "c\r";
    std::thread theTypist = typeInKeyMode(theKeys);
    std::string theText;
    testing::internal::CaptureStdout();
    const bool theEnded = readConsoleLine("Password: ", theText, true);
    const std::string theOut = testing::internal::GetCapturedStdout();
    theTypist.join();
    EXPECT_TRUE(theEnded);
    EXPECT_EQ(theText, "ac");
    EXPECT_EQ(theOut, "Password: \n");
    EXPECT_EQ(echoed().find_first_of("abc"), std::string::npos);

    // The mode the terminal had is back.
    const termios theAfter = currentMode();
    EXPECT_EQ(theAfter.c_lflag, itsOriginal.c_lflag);
    EXPECT_EQ(theAfter.c_cc[VMIN], itsOriginal.c_cc[VMIN]);
}

TEST_F(PseudoTerminalInput, CtrlCEndsTheLineInsteadOfKillingTheProgram)
{
    std::thread theTypist = typeInKeyMode("se\x03"
                                          "cret\n");
    std::string theText;
    testing::internal::CaptureStdout();
    EXPECT_TRUE(readConsoleLine("", theText, true));
    testing::internal::GetCapturedStdout();
    theTypist.join();
    EXPECT_EQ(theText, "se");
    EXPECT_EQ(currentMode().c_lflag, itsOriginal.c_lflag);
}

TEST_F(PseudoTerminalInput, KeyModeIsScoped)
{
    {
        corvel::platform::ConsoleKeyReader theReader;
        ASSERT_TRUE(theReader.isConsole());
        const termios theInside = currentMode();
        EXPECT_EQ(theInside.c_lflag & (ICANON | ECHO | ISIG), 0u);
    }
    EXPECT_EQ(currentMode().c_lflag, itsOriginal.c_lflag);
}

TEST(ConsoleKeyReader, NotATerminalChangesNothing)
{
    const int theSaved = dup(STDIN_FILENO);
    const int theNull = open("/dev/null", O_RDONLY);
    ASSERT_GE(theNull, 0);
    dup2(theNull, STDIN_FILENO);
    close(theNull);
    EXPECT_FALSE(corvel::platform::stdinIsTerminal());
    {
        corvel::platform::ConsoleKeyReader theReader;
        EXPECT_FALSE(theReader.isConsole());
    }
    dup2(theSaved, STDIN_FILENO);
    close(theSaved);
}
