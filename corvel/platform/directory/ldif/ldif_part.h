// One part of an LDIF file read into a partial directory, on a thread of
// its own.
//
// A file is cut at blank lines into parts that libldap's reader reads as
// it reads the whole (ldif_input.h). Each part is parsed apart: its own
// arena, its own local DN, value and attribute ids, its records with their
// values and members, and its diagnostics in file order. Nothing in a part
// depends on another, so parts are parsed in parallel; the loader then
// merges them in file order (ldif_loader.cpp), which decides what needs the
// whole file: duplicate entries, the ids of the directory, and the order of
// the error lines. Whatever the number of parts, the directory and its
// error lines come out the same.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "corvel/platform/directory/ldif/ldif_arena.h"
#include "corvel/platform/directory/ldif/ldif_directory.h"
#include "corvel/platform/directory/ldif/ldif_id_table.h"
#include "corvel/platform/directory/ldif/ldif_input.h"

struct ldifrecord;

namespace corvel::directory::ldif
{

// A distinct DN of the part.
struct PartDn
{
    std::string_view itsText;  // the first spelling met in the part
    std::string_view itsKey;   // its normal form, compared folded
    std::uint32_t itsHash;     // hashFolded(itsKey)
    bool itsHasRecord = false; // an add record of the part names it
};

// A diagnostic, as it will be reported.
struct PartLine
{
    std::string itsText;
    bool itsFromLibldap = false; // libldap's own words (reportLibldapLine)
};

// An add record whose DN is a DN: an entry, unless the merge finds its DN
// defined before.
struct PartRecord
{
    std::uint32_t itsDn; // part DN id
    std::uint32_t itsLine;
    std::string_view itsDnText; // as its dn line wrote it
    std::uint32_t itsRdnValue;  // part value id
    std::uint32_t itsRdnSize;
    std::uint32_t itsAttrBegin;   // into Part::itsAttrValues, to the next record's
    std::uint32_t itsMemberBegin; // into Part::itsMembers, to the next record's
    // Lines about its values, [begin, end) of Part::itsLines: not reported
    // when the record turns out to repeat an entry.
    std::uint32_t itsLinesBegin;
    std::uint32_t itsLinesEnd;
    std::uint8_t itsClasses;
    bool itsKeepsMembers; // false: member values given to no group, ignored
};

class Part
{
public:
    Part();

    // Parses inText (line inFirstLine of the file onwards) in place. inPath
    // names the file in messages. When inText lies in ioPages, its pages are
    // given back as the reader leaves them behind: the part keeps no view
    // into the text.
    void parse(char* inText, std::size_t inSize, unsigned long inFirstLine,
               const std::string& inPath, FileText* ioPages = nullptr);

    TextArena itsArena;
    std::vector<PartDn> itsDns;
    std::vector<std::string_view> itsValues;
    std::vector<std::string_view> itsAttrNames; // lower-case; the known ones first, by their ids
    std::vector<PartRecord> itsRecords;
    std::vector<AttrValue> itsAttrValues;  // part attribute and value ids
    std::vector<std::uint32_t> itsMembers; // part DN ids
    // Member values spelt otherwise than their DN's itsText: (index into
    // itsMembers, spelling), in order.
    std::vector<std::pair<std::uint32_t, std::string_view>> itsSpellings;
    std::vector<std::string> itsFileLines; // refused file references
    std::vector<PartLine> itsLines;        // about records, in file order
    bool itsOpened = true;                 // false: libldap could not open the text
    bool itsReadFailed = false;            // the reader stopped; nothing after this part is read
    bool itsRepeats = false;               // two of its records name the same DN
    IdTable itsDnTable;                    // key -> part DN id
    IdTable itsAttrTable;                  // lower-case name -> part attribute id

private:
    void addRecord(const ::ldifrecord& inRecord, unsigned long inLine);
    bool addValue(std::uint32_t inAttr, std::string_view inValue, PartRecord& ioRecord,
                  std::string_view inDnText, unsigned long inLine);
    std::uint32_t internDn(std::string_view inText);
    std::uint32_t internValue(std::string_view inText);
    std::uint32_t addValue(std::string_view inText); // one of its own, not shared
    std::uint32_t internAttr(std::string_view inLowerName);
    void addLine(std::string inText) { itsLines.push_back(PartLine{std::move(inText), false}); }

    const std::string* itsPath = nullptr;
    IdTable itsValueTable;
    std::vector<std::uint32_t> itsMemberMark; // by part DN id: the record that listed it last
    std::uint32_t itsMarkEpoch = 0;
    std::string itsTypeScratch;
    std::string itsKeyScratch;
};

} // namespace corvel::directory::ldif
