#include "corvel/platform/directory/ldif/ldif_reader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <strings.h>

#include <ldap.h>
#include <ldif.h>

#include "corvel/platform/directory/ldif/ldif_id_table.h"
#include "corvel/platform/directory/ldif/ldif_input.h"

namespace corvel::directory::ldif
{

RecordReader::RecordReader(char* inText, std::size_t inSize, unsigned long inFirstLine)
    : itsText(inText), itsSize(inSize), itsFirstLine(inFirstLine)
{
    itsFile = ldif_open_mem(inText, inSize, "r");
}

RecordReader::~RecordReader()
{
    if (itsBuffer)
        ber_memfree(itsBuffer);
    if (itsFile)
        ldif_close(itsFile);
}

std::size_t RecordReader::position() const
{
    const long thePosition = itsFile && itsFile->fp ? std::ftell(itsFile->fp) : 0;
    return thePosition > 0 ? static_cast<std::size_t>(thePosition) : 0;
}

bool RecordReader::endedByBlankLine(std::size_t inFrom) const
{
    // The last line read: the reader takes a line whose next to last
    // character is a carriage return as ending there ("x\r\n" is "x"),
    // and a line that is then empty as blank.
    const std::size_t theEnd = std::min(position(), itsSize);
    if (theEnd <= inFrom)
        return false;
    std::size_t theStart = theEnd - 1;
    while (theStart > inFrom && itsText[theStart - 1] != '\n')
        --theStart;
    std::string_view theLine(itsText + theStart, theEnd - theStart);
    if (theLine.size() >= 2 && theLine[theLine.size() - 2] == '\r')
        theLine = theLine.substr(0, theLine.size() - 2);
    else if (!theLine.empty() && theLine.back() == '\n')
        theLine.remove_suffix(1);
    else
        return false; // the end of the text, in the middle of a line of the record
    // Blank as the reader sees it: nothing, or a lone carriage return, before
    // the line end; never the first line read (a record comes before it).
    return (theLine.empty() || theLine == "\r") && theStart > inFrom;
}

RecordReader::Next RecordReader::next(char*& outText, std::size_t& outSize,
                                      unsigned long& outStartLine)
{
    if (!itsFile)
        return Next::End;
    for (;;)
    {
        const unsigned long theBefore = itsLineNo;
        const std::size_t theStartPosition = position();
        if (itsBuffer)
            *itsBuffer = '\0'; // no text of the last record can pass for this one
        const int theFound = ldif_read_record(itsFile, &itsLineNo, &itsBuffer, &itsBufferSize);
        if (theFound <= 0)
            return theFound < 0 ? Next::Failed : Next::End;
        // The reader can report a record (a lone line such as "6") without
        // giving any text for it: that is no record. It has read lines, so
        // the next call goes on; a call that read none would repeat forever.
        if (!itsBuffer || *itsBuffer == '\0')
        {
            if (itsLineNo == theBefore)
                return Next::End;
            continue;
        }
        // The reader counts every line it reads: those before the record
        // (blank lines, and comments a blank line made it drop), the
        // record's own, and the blank line that ended it, if one did (at the
        // end of the text none need). The record starts at its first line
        // that is no comment.
        const std::size_t theLength = std::strlen(itsBuffer);
        unsigned long theRecordLines =
            static_cast<unsigned long>(countNewlines(std::string_view(itsBuffer, theLength)));
        if (theLength > 0 && itsBuffer[theLength - 1] != '\n')
            ++theRecordLines; // the last line of the text, without its line end
        const unsigned long theRead = itsLineNo - theBefore;
        const unsigned long theUsed = theRecordLines + (endedByBlankLine(theStartPosition) ? 1 : 0);
        const unsigned long theLinesBefore = theRead > theUsed ? theRead - theUsed : 0;
        std::size_t theSkipped = 0;
        const char* curLine = itsBuffer;
        while (*curLine == '#' || (*curLine == ' ' && theSkipped > 0))
        {
            const char* theEnd = std::strchr(curLine, '\n');
            if (!theEnd)
            {
                curLine += std::strlen(curLine);
                break;
            }
            curLine = theEnd + 1;
            ++theSkipped;
        }
        // Comments alone are no record. The reader hands them back when a
        // blank line has made it drop them, a record begun ("6") and ended
        // with no line of its own: the buffer still holds the dropped text.
        if (*curLine == '\0')
        {
            if (itsLineNo == theBefore)
                return Next::End;
            continue;
        }
        unsigned long theStart = itsFirstLine + theBefore + theLinesBefore + theSkipped;

        // "version: 1" opens the file, alone or in front of the first
        // record; it is no entry.
        char* theText = itsBuffer;
        std::size_t theSize = theLength;
        char* theFirst = itsBuffer;
        while (*theFirst == '#' || *theFirst == ' ')
        {
            char* theEnd = std::strchr(theFirst, '\n');
            if (!theEnd)
                break;
            theFirst = theEnd + 1;
        }
        if (strncasecmp(theFirst, "version:", 8) == 0)
        {
            char* theEnd = std::strchr(theFirst, '\n');
            char* theRest = theEnd ? theEnd + 1 : theFirst + std::strlen(theFirst);
            if (*theRest == '\0')
                continue;
            theSize = theLength - static_cast<std::size_t>(theRest - itsBuffer);
            theText = theRest;
            ++theStart;
        }
        outText = theText;
        outSize = theSize;
        outStartLine = theStart;
        return Next::Record;
    }
}

void ParsedRecord::Deleter::operator()(ldifrecord* inRecord) const { delete inRecord; }

ParsedRecord::ParsedRecord() : itsRecord(new ldifrecord)
{
    std::memset(itsRecord.get(), 0, sizeof *itsRecord);
}

ParsedRecord::~ParsedRecord() { clear(); }

void ParsedRecord::clear()
{
    if (itsFilled)
        ldap_ldif_record_done(itsRecord.get());
    std::memset(itsRecord.get(), 0, sizeof *itsRecord);
    itsFilled = false;
}

namespace
{

// A line as libldap's line parser splits it; the value may be one the
// parser allocated (a decoded one), freed with the line.
struct ParsedLine
{
    struct berval itsType = {0, nullptr};
    struct berval itsValue = {0, nullptr};
    int itsFreeValue = 0;

    ParsedLine() = default;
    ParsedLine(const ParsedLine&) = delete;
    ParsedLine& operator=(const ParsedLine&) = delete;
    ~ParsedLine()
    {
        if (itsFreeValue && itsValue.bv_val)
            ber_memfree(itsValue.bv_val);
    }
    bool parse(char* inLine)
    {
        return ldif_parse_line2(inLine, &itsType, &itsValue, &itsFreeValue) >= 0;
    }
};

// The first line libldap's line parser refuses, worded as the record parser
// words it; empty when every line parses. The record parser takes the lines
// as ldif_getline gives them (unfolded, comments skipped) and names the
// entry by its first dn line.
std::string refusedLine(const char* inText, std::size_t inSize, unsigned long inStartLine)
{
    std::string theCopy(inText, inSize);
    char* theNext = theCopy.data();
    std::string theDn;
    bool theHaveDn = false;
    for (unsigned long curIndex = 0;; ++curIndex)
    {
        char* theText = ldif_getline(&theNext);
        if (!theText)
            return std::string();
        ParsedLine theLine;
        if (!theLine.parse(theText))
            return formatText("ldif: invalid format (line %lu) entry: \"%s\"",
                              inStartLine + curIndex, theDn.c_str());
        if (!theHaveDn && theLine.itsType.bv_val &&
            foldedEquals(std::string_view(theLine.itsType.bv_val, theLine.itsType.bv_len), "dn"))
        {
            theHaveDn = true;
            theDn = theLine.itsValue.bv_val ? theLine.itsValue.bv_val : "";
        }
    }
}

} // namespace

bool ParsedRecord::parse(char* inText, std::size_t inSize, unsigned long inStartLine,
                         bool inCheckLines, std::string& outRefusal)
{
    clear();
    outRefusal.clear();
    if (inCheckLines)
    {
        outRefusal = refusedLine(inText, inSize, inStartLine);
        if (!outRefusal.empty())
            return false;
    }
    struct berval theText;
    theText.bv_val = inText;
    theText.bv_len = inSize;
    // The record's fields are filled (and must be freed) whatever it answers.
    itsFilled = true;
    return ldap_parse_ldif_record(&theText, inStartLine, itsRecord.get(), "ldif",
                                  LDIF_DEFAULT_ADD | LDIF_NO_CONTROLS) == 0;
}

} // namespace corvel::directory::ldif
