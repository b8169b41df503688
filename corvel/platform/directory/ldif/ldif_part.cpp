// Reading one part of an LDIF file: records through libldap's reader and
// parser, values and DNs interned into the part's own tables.
#include "corvel/platform/directory/ldif/ldif_part.h"

#include <ldap.h>

#include "corvel/platform/directory/dn.h"
#include "corvel/platform/directory/ldif/ldif_input.h"
#include "corvel/platform/directory/ldif/ldif_reader.h"
#include "corvel/platform/directory/libldap_log.h"
#include "corvel/platform/directory/names.h"

namespace corvel::directory::ldif
{

namespace
{

// Text for a "%s" of a message: up to a NUL, as the C string of the value.
std::string cText(std::string_view inText)
{
    return std::string(inText.data(), inText.size()).c_str();
}

std::uint8_t classBit(std::string_view inClass)
{
    if (foldedEquals(inClass, "user"))
        return Class_User;
    if (foldedEquals(inClass, "computer"))
        return Class_Computer | Class_User;
    if (foldedEquals(inClass, "group"))
        return Class_Group;
    if (foldedEquals(inClass, "contact"))
        return Class_Contact;
    if (foldedEquals(inClass, "domaindns"))
        return Class_DomainDNS;
    if (foldedEquals(inClass, "crossref"))
        return Class_CrossRef;
    return 0;
}

} // namespace

Part::Part()
{
    for (std::uint32_t curId = 0; curId < Attr_knownCount; ++curId)
    {
        itsAttrNames.push_back(theKnownAttrNames[curId]);
        itsAttrTable.add(hashBytes(theKnownAttrNames[curId]), curId);
    }
}

std::uint32_t Part::internDn(std::string_view inText)
{
    // A spelling that is its own normal form up to case (the common one)
    // is found without a parse; each distinct DN is normalised once.
    const std::uint32_t theHash = hashFolded(inText);
    const std::uint32_t theFound = itsDnTable.find(
        theHash, [&](std::uint32_t inId) { return foldedEquals(itsDns[inId].itsKey, inText); });
    if (theFound != IdTable::None)
        return theFound;
    if (!dn::normalizeDN(std::string(inText), itsKeyScratch))
        return NoIndex;
    PartDn theDn;
    if (foldedEquals(itsKeyScratch, inText))
    {
        theDn.itsText = itsArena.add(inText);
        theDn.itsKey = theDn.itsText;
        theDn.itsHash = theHash;
    }
    else
    {
        // Another spelling of a DN met before, or a DN whose key must be kept.
        theDn.itsHash = hashFolded(itsKeyScratch);
        const std::uint32_t theAlias =
            itsDnTable.find(theDn.itsHash, [&](std::uint32_t inId)
                            { return foldedEquals(itsDns[inId].itsKey, itsKeyScratch); });
        if (theAlias != IdTable::None)
            return theAlias;
        theDn.itsText = itsArena.add(inText);
        theDn.itsKey = itsArena.add(itsKeyScratch);
    }
    const std::uint32_t theId = static_cast<std::uint32_t>(itsDns.size());
    itsDns.push_back(theDn);
    itsDnTable.add(theDn.itsHash, theId);
    return theId;
}

std::uint32_t Part::internValue(std::string_view inText)
{
    const std::uint32_t theNewId = static_cast<std::uint32_t>(itsValues.size());
    const std::uint32_t theId = itsValueTable.findOrAdd(
        hashBytes(inText), theNewId, [&](std::uint32_t inId) { return itsValues[inId] == inText; });
    if (theId == theNewId)
        itsValues.push_back(itsArena.add(inText));
    return theId;
}

std::uint32_t Part::addValue(std::string_view inText)
{
    itsValues.push_back(itsArena.add(inText));
    return static_cast<std::uint32_t>(itsValues.size() - 1);
}

std::uint32_t Part::internAttr(std::string_view inLowerName)
{
    const std::uint32_t theNewId = static_cast<std::uint32_t>(itsAttrNames.size());
    const std::uint32_t theId = itsAttrTable.findOrAdd(
        hashBytes(inLowerName), theNewId,
        [&](std::uint32_t inId) { return itsAttrNames[inId] == inLowerName; });
    if (theId == theNewId)
        itsAttrNames.push_back(itsArena.add(inLowerName));
    return theId;
}

void Part::parse(char* inText, std::size_t inSize, unsigned long inFirstLine,
                 const std::string& inPath, FileText* ioPages)
{
    itsPath = &inPath;
    LineCounts theCounts;
    neutraliseFileReferences(inText, inSize, inFirstLine, inPath, itsFileLines, theCounts);
    if (inSize == 0)
        return;

    // Sized up front from the line counts: most DNs are those of entries,
    // most other lines are values.
    const std::size_t theValueLines =
        theCounts.itsLines -
        std::min(theCounts.itsLines, theCounts.itsDnLines + theCounts.itsMemberLines);
    itsRecords.reserve(theCounts.itsDnLines);
    itsDns.reserve(theCounts.itsDnLines + 16);
    itsDnTable.reserve(theCounts.itsDnLines + 16);
    itsMembers.reserve(theCounts.itsMemberLines);
    itsAttrValues.reserve(theValueLines);
    // Most values repeat (object classes, group types) or come once per
    // entry (its name, SID, GUID): room for a few per entry to start with.
    itsValues.reserve(3 * theCounts.itsDnLines + 16);
    itsValueTable.reserve(theCounts.itsDnLines + 16);

    RecordReader theReader(inText, inSize, inFirstLine);
    if (!theReader.isOpen())
    {
        itsOpened = false;
        return;
    }
    ParsedRecord theRecord;
    std::string theScratch;
    std::string theRefusal;
    std::vector<std::string> theLibldapLines;
    LibldapLineCapture theCapture(theLibldapLines);
    // Pages behind the reader go back in steps; the reader's own buffer
    // may hold a little of what lies just behind its position.
    constexpr std::size_t theReleaseStep = std::size_t(8) << 20;
    constexpr std::size_t theReleaseMargin = std::size_t(256) << 10;
    const std::size_t theOffset = ioPages ? static_cast<std::size_t>(inText - ioPages->data()) : 0;
    std::size_t theReleased = 0;
    const auto takeLibldapLines = [&]
    {
        for (std::string& curLine : theLibldapLines)
            itsLines.push_back(PartLine{std::move(curLine), true});
        theLibldapLines.clear();
    };
    for (;;)
    {
        char* theText = nullptr;
        std::size_t theSize = 0;
        unsigned long theStart = 0;
        const RecordReader::Next theNext = theReader.next(theText, theSize, theStart);
        takeLibldapLines();
        if (theNext == RecordReader::Next::End)
            break;
        if (ioPages && theReader.position() > theReleased + theReleaseStep + theReleaseMargin)
        {
            const std::size_t theUpTo = theReader.position() - theReleaseMargin;
            ioPages->release(theOffset + theReleased, theOffset + theUpTo);
            theReleased = theUpTo;
        }
        if (theNext == RecordReader::Next::Failed)
        {
            addLine(formatText("LDIF file \"%s\" line %lu: cannot be read on", inPath.c_str(),
                               theReader.line()));
            itsReadFailed = true;
            break;
        }
        bool theCheckLines = false;
        if (!isParsableRecord(std::string_view(theText, theSize), theScratch, theCheckLines))
        {
            addLine(formatText("LDIF file \"%s\" line %lu: malformed record skipped",
                               inPath.c_str(), theStart));
            continue;
        }
        const bool theParsed =
            theRecord.parse(theText, theSize, theStart, theCheckLines, theRefusal);
        takeLibldapLines();
        if (!theRefusal.empty())
            itsLines.push_back(PartLine{theRefusal, true});
        if (theParsed)
            addRecord(theRecord.record(), theStart);
        else
            addLine(formatText("LDIF file \"%s\" line %lu: malformed record skipped",
                               inPath.c_str(), theStart));
    }
}

void Part::addRecord(const ::ldifrecord& inRecord, unsigned long inLine)
{
    const std::string& thePath = *itsPath;
    if (inRecord.lr_op != LDAP_REQ_ADD)
    {
        addLine(formatText(
            "LDIF file \"%s\" line %lu: only new entries are loaded; change record skipped",
            thePath.c_str(), inLine));
        return;
    }
    const std::string_view theDnText(inRecord.lr_dn.bv_val ? inRecord.lr_dn.bv_val : "",
                                     inRecord.lr_dn.bv_val ? inRecord.lr_dn.bv_len : 0);
    const std::uint32_t theDn = theDnText.empty() ? NoIndex : internDn(theDnText);
    if (theDn == NoIndex)
    {
        addLine(formatText(
            "LDIF file \"%s\" line %lu: \"%s\" is not a distinguished name; record skipped",
            thePath.c_str(), inLine, cText(theDnText).c_str()));
        return;
    }

    itsRepeats = itsRepeats || itsDns[theDn].itsHasRecord;
    itsDns[theDn].itsHasRecord = true;
    PartRecord theRecord{};
    theRecord.itsDn = theDn;
    theRecord.itsLine = static_cast<std::uint32_t>(inLine);
    theRecord.itsDnText =
        itsDns[theDn].itsText == theDnText ? itsDns[theDn].itsText : itsArena.add(theDnText);
    theRecord.itsAttrBegin = static_cast<std::uint32_t>(itsAttrValues.size());
    theRecord.itsMemberBegin = static_cast<std::uint32_t>(itsMembers.size());
    theRecord.itsLinesBegin = static_cast<std::uint32_t>(itsLines.size());
    theRecord.itsKeepsMembers = true;

    // The first RDN: of a DN that is its own normal form it is the text up
    // to the first ','; others are parsed.
    const std::string_view theDnView = theRecord.itsDnText;
    if (foldedEquals(itsDns[theDn].itsKey, theDnView) &&
        theDnView.find_first_of("\\+") == std::string_view::npos)
    {
        const std::size_t theComma = std::min(theDnView.find(','), theDnView.size());
        const std::size_t theEquals = theDnView.find('=');
        theRecord.itsRdnSize = static_cast<std::uint32_t>(theComma);
        theRecord.itsRdnValue =
            internValue(theDnView.substr(theEquals + 1, theComma - theEquals - 1));
    }
    else
    {
        std::vector<dn::Rdn> theRdns;
        dn::parseDN(std::string(theDnView), theRdns);
        const std::size_t theLead = std::min(theDnView.find_first_not_of(" \t"), theDnView.size());
        theRecord.itsRdnSize = static_cast<std::uint32_t>(theLead + theRdns[0].itsText.size());
        theRecord.itsRdnValue = internValue(theRdns[0].itsAvas[0].itsValue);
    }

    // A fresh mark value per record: marks of earlier records count as unset.
    const std::uint32_t theMarkEpoch = ++itsMarkEpoch;
    for (LDAPMod** curMod = inRecord.lrop_mods; curMod && *curMod; ++curMod)
    {
        const LDAPMod* theMod = *curMod;
        if (!theMod->mod_type || !theMod->mod_bvalues)
            continue;
        // Options such as ";binary" or the ";range=0-1499" of a long member
        // list do not change what the values are.
        itsTypeScratch.assign(theMod->mod_type);
        const std::size_t theSemicolon = itsTypeScratch.find(';');
        if (theSemicolon != std::string::npos)
            itsTypeScratch.erase(theSemicolon);
        for (char& curChar : itsTypeScratch)
            if (curChar >= 'A' && curChar <= 'Z')
                curChar = static_cast<char>(curChar - 'A' + 'a');
        if (itsTypeScratch == "memberof")
            continue; // the directory maintains it from member
        const bool theIsMember = itsTypeScratch == "member";
        const std::uint32_t theAttr = theIsMember ? NoIndex : internAttr(itsTypeScratch);
        for (struct berval** curValue = theMod->mod_bvalues; *curValue; ++curValue)
        {
            const std::string_view theValue((*curValue)->bv_val ? (*curValue)->bv_val : "",
                                            (*curValue)->bv_val ? (*curValue)->bv_len : 0);
            if (!theIsMember)
            {
                addValue(theAttr, theValue, theRecord, theDnView, inLine);
                continue;
            }
            const std::uint32_t theMember = internDn(theValue);
            if (theMember == NoIndex)
            {
                addLine(formatText("LDIF file \"%s\" line %lu: member value \"%s\" of \"%s\" is "
                                   "not a distinguished name; ignored",
                                   thePath.c_str(), inLine, cText(theValue).c_str(),
                                   cText(theDnView).c_str()));
                continue;
            }
            // A repeated value is stored once; the mark per DN id keeps
            // this linear where a scan of the list was quadratic.
            if (theMember >= itsMemberMark.size())
                itsMemberMark.resize(itsDns.size() + itsDns.size() / 2, 0);
            if (itsMemberMark[theMember] == theMarkEpoch)
                continue;
            itsMemberMark[theMember] = theMarkEpoch;
            if (itsDns[theMember].itsText != theValue)
                itsSpellings.emplace_back(static_cast<std::uint32_t>(itsMembers.size()),
                                          itsArena.add(theValue));
            itsMembers.push_back(theMember);
        }
    }
    if (itsMembers.size() > theRecord.itsMemberBegin && (theRecord.itsClasses & Class_Group) == 0)
    {
        addLine(formatText(
            "LDIF file \"%s\" line %lu: \"%s\" has member values but is no group; they are ignored",
            thePath.c_str(), inLine, cText(theDnView).c_str()));
        theRecord.itsKeepsMembers = false;
    }
    theRecord.itsLinesEnd = static_cast<std::uint32_t>(itsLines.size());
    itsRecords.push_back(theRecord);
}

bool Part::addValue(std::uint32_t inAttr, std::string_view inValue, PartRecord& ioRecord,
                    std::string_view inDnText, unsigned long inLine)
{
    std::string theText;
    if (inAttr == Attr_objectSid)
    {
        // Text as some exports write it, or the binary value.
        const std::string theValue(inValue);
        theText = names::canonicalSid(theValue);
        if (theText.empty() && !names::sidToText(theValue, theText))
        {
            addLine(
                formatText("LDIF file \"%s\" line %lu: objectSid of \"%s\" is not a SID; ignored",
                           itsPath->c_str(), inLine, cText(inDnText).c_str()));
            return false;
        }
        inValue = theText;
    }
    else if (inAttr == Attr_objectGUID)
    {
        const std::string theValue(inValue);
        std::string theBytes;
        if (theValue.size() == 38 && theValue.front() == '{' &&
            names::guidFromText(theValue, theBytes))
            names::guidToText(theBytes, theText);
        else if (!names::guidToText(theValue, theText))
        {
            addLine(
                formatText("LDIF file \"%s\" line %lu: objectGUID of \"%s\" is not a GUID; ignored",
                           itsPath->c_str(), inLine, cText(inDnText).c_str()));
            return false;
        }
        inValue = theText;
    }
    else if (inAttr == Attr_objectClass)
        ioRecord.itsClasses |= classBit(inValue);
    // A SID or GUID is its object's own: there is nothing to share, and a
    // table of a million of them would only cost lookups.
    const bool theUnique = inAttr == Attr_objectSid || inAttr == Attr_objectGUID;
    itsAttrValues.push_back(
        AttrValue{inAttr, theUnique ? addValue(inValue) : internValue(inValue)});
    return true;
}

} // namespace corvel::directory::ldif
