// Console prompts for text-mode programs.
//
// askUser writes "Warning: " + the question + the text of its type to the
// output (no line end) and reads one line from the input, repeating until the
// first character, in upper case, is one of the type's answer letters:
//
//   type       appended              letters   answer codes
//   1          " [Ok/Cancel] "       O C       O 1, C 2
//   2          " [Yes/No] "          Y N       Y 5, N 6
//   3          " [Yes/No/Cancel] "   Y N C     Y 3, N 4, C 2
//   any other  " "                   none      1 after any line
//
// At the end of the input it stops asking: it ends the prompt line and answers
// Cancel where the type has it, otherwise No, and 1 for a type without answer
// letters. Lines longer than 255 characters are read whole and cut to 255.
// When the input is std::cin on a terminal, input typed ahead is dropped
// before each attempt.
//
// readConsoleLine writes the prompt and reads one line. Hidden input reads key
// by key without echo: Ctrl-C (3), Ctrl-D (4), CR or LF end the line and write
// a line end; 0 drops the key after it (the prefix of an extended key); 8
// (backspace) removes the last character; any other key is appended. On a
// terminal the terminal's mode is restored on every way out; from any other
// stream the same key rules apply to its characters, without echo control.
//
// The forms without streams use std::cin and std::cout.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>

class qzMessage;
class qzErrorMessage;

// Question types.
inline constexpr std::int32_t qzAskOkCancel = 1;
inline constexpr std::int32_t qzAskYesNo = 2;
inline constexpr std::int32_t qzAskYesNoCancel = 3;

// Answer codes.
inline constexpr std::int32_t qzAnswerOk = 1;
inline constexpr std::int32_t qzAnswerCancel = 2;
inline constexpr std::int32_t qzAnswerYes3 = 3;
inline constexpr std::int32_t qzAnswerNo3 = 4;
inline constexpr std::int32_t qzAnswerYes = 5;
inline constexpr std::int32_t qzAnswerNo = 6;

// inReserved and inReservedFlag have no effect.
std::int32_t askUser(std::int32_t inType, std::int32_t inReserved, const std::string& inText,
                     bool inReservedFlag);
// A literal would convert to both the text and a qzMessage: this picks the text.
std::int32_t askUser(std::int32_t inType, std::int32_t inReserved, const char* inText,
                     bool inReservedFlag);
std::int32_t askUser(std::int32_t inType, std::int32_t inReserved, const qzMessage& inMessage,
                     bool inReservedFlag);
std::int32_t askUser(std::int32_t inType, std::int32_t inReserved, const qzErrorMessage& inMessage,
                     bool inReservedFlag);
std::int32_t askUser(std::istream& ioIn, std::ostream& ioOut, std::int32_t inType,
                     std::int32_t inReserved, const std::string& inText, bool inReservedFlag);
std::int32_t askUser(std::istream& ioIn, std::ostream& ioOut, std::int32_t inType,
                     std::int32_t inReserved, const char* inText, bool inReservedFlag);
std::int32_t askUser(std::istream& ioIn, std::ostream& ioOut, std::int32_t inType,
                     std::int32_t inReserved, const qzMessage& inMessage, bool inReservedFlag);
std::int32_t askUser(std::istream& ioIn, std::ostream& ioOut, std::int32_t inType,
                     std::int32_t inReserved, const qzErrorMessage& inMessage, bool inReservedFlag);

// A warning with the message's text as a question without answer letters: 1
// once a line is read (or at the end of the input), 0 without any output when
// the text is empty.
std::int32_t showWarning(const qzMessage& inMessage);
std::int32_t showWarning(std::istream& ioIn, std::ostream& ioOut, const qzMessage& inMessage);

// Clears outText, writes the prompt and reads one line into outText (see
// above). Returns false when the input ended before the line did; outText
// then holds what was read.
bool readConsoleLine(const std::string& inPrompt, std::string& outText, bool inHidden);
bool readConsoleLine(std::istream& ioIn, std::ostream& ioOut, const std::string& inPrompt,
                     std::string& outText, bool inHidden);
