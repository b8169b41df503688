// qzDNSStateMachine: recognises the textual form of a DNS domain name, and
// the label operations and duration text that work on such names.
//
// Labels of letters, digits and specials ("-", "/" and, by option, "_")
// separated by "."; an optional final "." (absolute name); "*" labels
// (wildcards). Only characters and their order are judged, not label or
// name lengths. A name may end after a letter or digit, after its final "."
// or after a "*" label, never after a special; the empty text never passes.
//
// The tables are process-wide. The option-independent cells are built once;
// the option cells (the classes of "-", "_", "/" and whether a label may
// start with a special) are rewritten by every construction, so the options
// of the most recently constructed machine govern every instance from then
// on. Construct, feed and discard a machine in one go. The rewritten cells
// are relaxed atomics, so concurrent constructions are no data race, but
// machines with different options must still not be used at the same time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "corvel/util/qzstatemachine.h"

class qzDNSStateMachine : public qzStateMachine
{
public:
    qzDNSStateMachine(bool allowUnderscore, bool specialsAsLetters, bool mayStartWithUnderscore);
    ~qzDNSStateMachine() override;

    // Rewrites the shared option cells. mayStartWithUnderscore without
    // allowUnderscore is reported by assertion and applied as given.
    // Returns mayStartWithUnderscore.
    virtual bool setOptions(bool allowUnderscore, bool specialsAsLetters,
                            bool mayStartWithUnderscore);
};

// With underscores allowed inside labels (not at their start) and the
// specials kept apart from letters. A lone "." passes only with inAllowRoot.
// A null name is not valid.
bool isValidDNSName(const char* inName, bool inAllowRoot);

// Non-empty, every byte in 33..127 (no space, no control byte, nothing of
// 128 and above).
bool isPrintableName(const char* inName);

// ---- Names by labels. An absolute name ends in "."; the root counts as a
// label, so "a.b." has three labels and "." has one.

// Case-insensitive equality, where a relative name equals an absolute one
// that is the relative name, a dot and inOrigin. inOrigin may be null.
bool namesEqual(const char* inA, const char* inB, const char* inOrigin);

// 0 for the empty text, 1 for ".", otherwise 1 + the separators.
int countLabels(const char* inName, char inSeparator = '.');

// Label number inN (from 0), copied NUL-terminated into outBuffer, which
// holds at least strlen(inName) + 1 bytes. Beyond the last label (or for a
// negative inN) the empty text.
char* getLabel(const char* inName, int inN, char* outBuffer, char inSeparator = '.');
std::string getLabel(const std::string& inName, int inN, char inSeparator = '.');

// The last inN labels: 0 gives the empty text; 1 the root dot of an
// absolute name, or the last label of a relative one; more the text after
// the inN-th "." counted from the end (the final dot counts), or the whole
// name when it has fewer dots. outBuffer holds at least strlen(inName) + 1
// bytes.
char* getLastLabels(const char* inName, int inN, char* outBuffer);
std::string getLastLabels(const std::string& inName, int inN);

// Number of trailing labels two names share, ASCII case ignored. Never
// negative.
int countCommonLabels(const char* inA, const char* inB);

// In place: length-prefixed labels ending in a zero length become dotted
// text ending in ".". Never reads past the first zero byte: a length that
// would run past it ends the text there. A buffer holding only the zero
// length (the root) becomes the empty text, since "." would not fit.
char* labelsToText(char* ioBuffer);

// In place: an absolute dotted name becomes length-prefixed labels ending in
// a zero byte, in the same number of bytes. A relative name, a name with an
// empty label or with a label longer than 255 is left unchanged.
char* textToLabels(char* ioBuffer);

// A readable duration: "1 day, 1 hour, 1 minute, 1 second", "2 hours",
// "0 seconds". outBuffer holds at least qzDurationTextSize bytes, enough for
// the longest text ("49709 days, 23 hours, 59 minutes, 59 seconds").
inline constexpr std::size_t qzDurationTextSize = 47;
char* durationText(std::uint32_t inSeconds, char* outBuffer);
std::string durationText(std::uint32_t inSeconds);
