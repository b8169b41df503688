// libldap's LDIF reader over text in memory, with its objects owned by
// scope: the LDIFFP of ldif_open_mem, the record buffer ldif_read_record
// grows, and the LDIFRecord ldap_parse_ldif_record fills.
//
// RecordReader yields each record's text and the line it starts on, as
// the file numbers its lines; ParsedRecord parses one record's text.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

struct LDIFFP;
struct ldifrecord;

namespace corvel::directory::ldif
{

class RecordReader
{
public:
    enum class Next
    {
        Record,
        End,
        Failed, // the reader could not go on; the rest is not read
    };

    // Reads inText, whose first line is line inFirstLine of the file. The
    // text must stay as it is while the reader lives.
    RecordReader(char* inText, std::size_t inSize, unsigned long inFirstLine);
    ~RecordReader();
    RecordReader(const RecordReader&) = delete;
    RecordReader& operator=(const RecordReader&) = delete;

    // False when libldap could not open the text at all.
    bool isOpen() const { return itsFile != nullptr; }

    // The next record: its text without a leading "version:" line, valid
    // until the next call, and the line of the file it starts on. Blank and
    // comment lines before a record are not part of it.
    Next next(char*& outText, std::size_t& outSize, unsigned long& outStartLine);

    // The line number the reader has reached (for a Failed result).
    unsigned long line() const { return itsFirstLine - 1 + itsLineNo; }
    // How far into the text the reader has read.
    std::size_t position() const;

private:
    // Whether the read that began at inFrom ended with the blank line that
    // ends a record (rather than at the end of the text).
    bool endedByBlankLine(std::size_t inFrom) const;

    const char* itsText;
    std::size_t itsSize;
    LDIFFP* itsFile = nullptr;
    char* itsBuffer = nullptr; // grown by ldif_read_record, freed with ber_memfree
    int itsBufferSize = 0;
    unsigned long itsLineNo = 0;
    unsigned long itsFirstLine;
};

// One record as libldap's parser reads it, reused from record to record.
// The record text is changed in place and must outlive the parsed record.
class ParsedRecord
{
public:
    ParsedRecord();
    ~ParsedRecord();
    ParsedRecord(const ParsedRecord&) = delete;
    ParsedRecord& operator=(const ParsedRecord&) = delete;

    // False when the parser refused the record. With inCheckLines, each line
    // is first given to libldap's own line parser, on a copy, as the record
    // parser itself would: a line it refuses makes the record parser print
    // "ldif: invalid format ..." to standard error and fail, so the record
    // is refused here instead, with that line in outRefusal.
    bool parse(char* inText, std::size_t inSize, unsigned long inStartLine, bool inCheckLines,
               std::string& outRefusal);
    // The record of the last successful parse.
    const ldifrecord& record() const { return *itsRecord; }

private:
    void clear();

    struct Deleter
    {
        void operator()(ldifrecord* inRecord) const;
    };
    std::unique_ptr<ldifrecord, Deleter> itsRecord;
    bool itsFilled = false; // its fields hold what libldap allocated
};

} // namespace corvel::directory::ldif
