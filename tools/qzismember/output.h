// qzIsMember's answers as it prints them: a line of words (with the path
// under --why), a USER<TAB>GROUP<TAB>verdict line in a batch, or one JSON
// object.
#pragma once

#include <string>

#include "corvel/util/auth/question.h"

// One answer as the output needs it: the question's, or a batch line that
// is no question.
struct Reply
{
    qzMembershipQuestion::Answer itsAnswer;
    bool itsMalformed = false;
    std::string itsProblem; // why the line is no question

    int exitCode() const;
    std::string error() const; // empty: none
};

// "member", "not a member", "not found" or "error".
std::string verdictWords(const Reply& inReply);
// The one JSON object of an answer, with its line end.
std::string jsonReply(const Reply& inReply);
// The answer alone: its words and, with inWhy, the path a line each; nothing
// without a verdict.
std::string plainReply(const Reply& inReply, bool inWhy);
// USER<TAB>GROUP<TAB>verdict[<TAB>path...] and a line end.
std::string batchReply(const Reply& inReply, bool inWhy);

// All of inText on standard output; false when it could not be written.
bool writeOut(const std::string& inText);
// "qzIsMember: <prefix><error>" on standard error, when there is an error.
void reportError(const std::string& inPrefix, const Reply& inReply);
