// Loading an LDIF file into the in-memory directory.
//
// Records are read and parsed by libldap's own LDIF reader. Before it sees
// the text we neutralise the two things that would make it open other files:
// "include:" lines and URL values ("attr:< file:///..."). An LDIF file is
// data and must never make the program read anything else.
#include "corvel/platform/directory/ldif/ldif_directory.h"

#include <ldap.h>
#include <ldif.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <strings.h>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

#include "corvel/platform/os_report.h"
#include "corvel/platform/directory/dn.h"
#include "corvel/platform/directory/names.h"
#include "corvel/platform/os_lock.h"

namespace corvel::directory::ldif
{

namespace
{

const char* const theKnownAttrs[Attr_knownCount] = {
    "objectclass",  "samaccountname", "userprincipalname", "name",        "cn",
    "displayname",  "serviceprincipalname", "objectguid",  "objectsid",   "grouptype",
    "primarygroupid", "useraccountcontrol", "userpassword", "dnsroot",    "netbiosname",
    "ncname",       "distinguishedname"};

std::string lower(const std::string& inText) { return dn::toLowerAscii(inText); }

std::string upper(const std::string& inText)
{
    std::string theResult(inText);
    for (char& curChar : theResult)
        if (curChar >= 'a' && curChar <= 'z')
            curChar = static_cast<char>(curChar - 'a' + 'A');
    return theResult;
}

// Reads the whole file; false with errno's text in outError.
bool readFile(const std::string& inPath, std::string& outText, std::string& outError)
{
    // Non-blocking, so that a FIFO named as the file cannot hang the open;
    // it has no effect on reading a regular file.
    int theFd = ::open(inPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (theFd < 0)
    {
        outError = std::strerror(errno);
        return false;
    }
    struct stat theStat;
    if (::fstat(theFd, &theStat) != 0 || !S_ISREG(theStat.st_mode))
    {
        outError = "not a regular file";
        ::close(theFd);
        return false;
    }
    outText.clear();
    char theBuffer[65536];
    for (;;)
    {
        ssize_t theRead = ::read(theFd, theBuffer, sizeof theBuffer);
        if (theRead < 0)
        {
            if (errno == EINTR)
                continue;
            outError = std::strerror(errno);
            ::close(theFd);
            return false;
        }
        if (theRead == 0)
            break;
        outText.append(theBuffer, static_cast<std::size_t>(theRead));
    }
    ::close(theFd);
    return true;
}

class Loader
{
public:
    Loader(Directory& ioDir) : itsDir(ioDir) {}

    void load(std::string& ioText);

private:
    void neutraliseFileReferences(std::string& ioText);
    void addRecord(const LDIFRecord& inRecord, unsigned long inLine);
    std::uint32_t internDn(const std::string& inText, const std::string& inKey);
    std::uint32_t internAttr(const std::string& inLowerName);
    void buildDomains();
    void assignDomains();
    void deriveMemberOf();
    void buildIndexes();

    Directory& itsDir;
    std::vector<std::uint32_t> itsMemberMark; // by DN id: epoch of the record that listed it last
    std::uint32_t itsMarkEpoch = 0;
};

// libldap's record parser dereferences a null attribute type on a "-" line
// where it looks for a control or a changetype (straight after the dn, a
// control or a changetype line) and on a line whose type is empty (": x").
// Such records are refused before it sees them. A "-" line only ends a
// change of a modify record, so one anywhere else is refused as well.
// Lines are looked at unfolded; comment lines are skipped.
bool isParsableRecord(const char* inText)
{
    std::vector<std::string> theLines;
    bool theInComment = false;
    for (const char* curLine = inText; *curLine;)
    {
        const char* theEnd = std::strchr(curLine, '\n');
        std::size_t theLength = theEnd ? static_cast<std::size_t>(theEnd - curLine) : std::strlen(curLine);
        const char* theNext = theEnd ? theEnd + 1 : curLine + theLength;
        if (theLength > 0 && curLine[theLength - 1] == '\r')
            --theLength;
        if (theLength > 0 && curLine[0] == ' ')
        {
            // A continuation of the line before.
            if (!theInComment && !theLines.empty())
                theLines.back().append(curLine + 1, theLength - 1);
        }
        else if (theLength > 0 && curLine[0] == '#')
            theInComment = true;
        else if (theLength > 0)
        {
            theInComment = false;
            theLines.emplace_back(curLine, theLength);
        }
        curLine = theNext;
    }
    bool theModify = false;
    bool theAfterHeader = true; // a "-" here would be read as a control or changetype
    for (const std::string& curLine : theLines)
    {
        if (curLine[0] == ':')
            return false;
        if (curLine == "-")
        {
            if (theAfterHeader || !theModify)
                return false;
            continue;
        }
        std::size_t theColon = curLine.find(':');
        std::string theType = lower(curLine.substr(0, theColon));
        theAfterHeader = theType == "dn" || theType == "control" || theType == "changetype";
        if (theType == "changetype" && theColon != std::string::npos)
        {
            std::size_t theValue = curLine.find_first_not_of(' ', theColon + 1);
            theModify = theValue != std::string::npos && lower(curLine.substr(theValue)) == "modify";
        }
    }
    return true;
}

std::uint32_t Loader::internDn(const std::string& inText, const std::string& inKey)
{
    auto theFound = itsDir.itsDnIds.find(inKey);
    if (theFound != itsDir.itsDnIds.end())
        return theFound->second;
    std::uint32_t theId = static_cast<std::uint32_t>(itsDir.itsDnText.size());
    auto theInserted = itsDir.itsDnIds.emplace(inKey, theId).first;
    itsDir.itsDnText.push_back(inText);
    itsDir.itsDnKey.push_back(&theInserted->first);
    itsDir.itsEntryOfDn.push_back(NoIndex);
    return theId;
}

std::uint32_t Loader::internAttr(const std::string& inLowerName)
{
    auto theFound = itsDir.itsAttrIds.find(inLowerName);
    if (theFound != itsDir.itsAttrIds.end())
        return theFound->second;
    std::uint32_t theId = static_cast<std::uint32_t>(itsDir.itsAttrNames.size());
    itsDir.itsAttrNames.push_back(inLowerName);
    itsDir.itsAttrIds.emplace(inLowerName, theId);
    return theId;
}

// Turns "include:" lines and URL-valued attribute lines into comments, with
// an error line for each. Folded lines are looked at unfolded, so a name
// split over two lines cannot slip through.
void Loader::neutraliseFileReferences(std::string& ioText)
{
    const std::string& thePath = itsDir.itsPath;
    unsigned long theLineNo = 0;
    std::size_t thePos = 0;
    while (thePos < ioText.size())
    {
        std::size_t theLineEnd = ioText.find('\n', thePos);
        if (theLineEnd == std::string::npos)
            theLineEnd = ioText.size();
        ++theLineNo;
        char theFirst = ioText[thePos];
        bool theIsStart = theFirst != ' ' && theFirst != '\n' && theFirst != '\r' && theFirst != '#';
        if (!theIsStart)
        {
            thePos = theLineEnd + 1;
            continue;
        }
        // Most lines show name, colon and the character after it unfolded
        // and without a carriage return: nothing to do for an ordinary one.
        const char* theLine = ioText.data() + thePos;
        const char* theColonChar =
            static_cast<const char*>(std::memchr(theLine, ':', theLineEnd - thePos));
        if (theColonChar && theColonChar + 1 < ioText.data() + theLineEnd &&
            !std::memchr(theLine, '\r', static_cast<std::size_t>(theColonChar + 2 - theLine)))
        {
            bool theMaybeInclude = theColonChar - theLine == 7 && strncasecmp(theLine, "include", 7) == 0;
            if (theColonChar[1] != '<' && !theMaybeInclude)
            {
                thePos = theLineEnd + 1;
                continue;
            }
        }
        // Unfold this logical line (enough of it to see the name and the
        // character after the colon).
        std::string theLogical;
        std::size_t theScan = thePos;
        std::size_t theScanEnd = theLineEnd;
        for (;;)
        {
            for (std::size_t curPos = theScan; curPos < theScanEnd; ++curPos)
                if (ioText[curPos] != '\r')
                    theLogical += ioText[curPos];
            std::size_t theColonSoFar = theLogical.find(':');
            bool theNeedMore = theColonSoFar == std::string::npos || theColonSoFar + 1 == theLogical.size();
            if (!theNeedMore || theScanEnd + 1 >= ioText.size() || ioText[theScanEnd + 1] != ' ')
                break;
            theScan = theScanEnd + 2;
            theScanEnd = ioText.find('\n', theScan);
            if (theScanEnd == std::string::npos)
                theScanEnd = ioText.size();
        }
        std::size_t theColon = theLogical.find(':');
        std::string theName = theColon == std::string::npos ? theLogical : theLogical.substr(0, theColon);
        bool theInclude = lower(theName) == "include" && theColon != std::string::npos;
        bool theUrl = theColon != std::string::npos && theColon + 1 < theLogical.size() &&
                      theLogical[theColon + 1] == '<';
        if (theInclude)
        {
            platform::reportLog(platform::Report_error, "LDIF file \"%s\" line %lu: \"include:\" refused, an LDIF file may not name other files",
                    thePath.c_str(), theLineNo);
            ioText[thePos] = '#';
        }
        else if (theUrl)
        {
            platform::reportLog(platform::Report_error,
                    "LDIF file \"%s\" line %lu: URL value of \"%s\" refused, an LDIF file may not name other files",
                    thePath.c_str(), theLineNo, theName.c_str());
            ioText[thePos] = '#';
        }
        thePos = theLineEnd + 1;
    }
}

void Loader::load(std::string& ioText)
{
    const std::string& thePath = itsDir.itsPath;
    std::size_t theNul = ioText.find('\0');
    if (theNul != std::string::npos)
    {
        unsigned long theLine = 1;
        for (std::size_t curPos = 0; curPos < theNul; ++curPos)
            if (ioText[curPos] == '\n')
                ++theLine;
        platform::reportLog(platform::Report_error, "LDIF file \"%s\" line %lu: NUL byte, this is no LDIF text; nothing loaded",
                thePath.c_str(), theLine);
        return;
    }
    neutraliseFileReferences(ioText);
    itsDir.itsLoaded = true;
    if (ioText.empty())
        return;

    // A rough guess of the number of DNs spares the tables most rehashing.
    itsDir.itsDnIds.reserve(ioText.size() / 256 + 16);
    LDIFFP* theFile = ldif_open_mem(ioText.data(), ioText.size(), "r");
    if (!theFile)
    {
        platform::reportLog(platform::Report_error, "LDIF file \"%s\": cannot be read into the LDIF reader", thePath.c_str());
        itsDir.itsLoaded = false;
        return;
    }
    unsigned long theLineNo = 0;
    char* theBuffer = nullptr;
    int theBufferSize = 0;
    for (;;)
    {
        unsigned long theBefore = theLineNo;
        if (theBuffer)
            *theBuffer = '\0'; // no text of the last record can pass for this one
        int theFound = ldif_read_record(theFile, &theLineNo, &theBuffer, &theBufferSize);
        if (theFound <= 0)
        {
            if (theFound < 0)
                platform::reportLog(platform::Report_error, "LDIF file \"%s\" line %lu: cannot be read on", thePath.c_str(),
                        theLineNo);
            break;
        }
        // The reader can report a record (a lone line such as "6") without
        // giving any text for it: that is no record. It has read lines, so
        // the next call goes on; a call that read none would repeat forever.
        if (!theBuffer || *theBuffer == '\0')
        {
            if (theLineNo == theBefore)
                break;
            continue;
        }
        // The reader skips blank lines before a record and counts them; the
        // record starts at its first line that is neither blank nor comment.
        unsigned long theStart = theBefore + 1;
        {
            std::size_t theSkipped = 0;
            unsigned long theBufferLines = 0;
            for (const char* curChar = theBuffer; *curChar; ++curChar)
                if (*curChar == '\n')
                    ++theBufferLines;
            const char* curLine = theBuffer;
            while (*curLine == '#' || (*curLine == ' ' && theSkipped > 0))
            {
                const char* theEnd = std::strchr(curLine, '\n');
                if (!theEnd)
                    break;
                curLine = theEnd + 1;
                ++theSkipped;
            }
            // Lines counted by the reader but not in the buffer are the blank
            // lines before the record and the one ending it.
            unsigned long theTotal = theLineNo - theBefore;
            unsigned long theBlankBefore = theTotal > theBufferLines ? theTotal - theBufferLines : 0;
            if (theBlankBefore > 0 && theTotal > 0)
                --theBlankBefore; // the blank line that ended the record
            theStart = theBefore + 1 + theBlankBefore + theSkipped;
        }
        struct berval theText;
        theText.bv_val = theBuffer;
        theText.bv_len = std::strlen(theBuffer);
        {
            // "version: 1" opens the file, alone or in front of the first
            // record; it is no entry.
            char* theFirst = theBuffer;
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
                theText.bv_val = theRest;
                theText.bv_len = std::strlen(theRest);
                ++theStart;
            }
        }
        if (!isParsableRecord(theText.bv_val))
        {
            platform::reportLog(platform::Report_error, "LDIF file \"%s\" line %lu: malformed record skipped", thePath.c_str(),
                    theStart);
            continue;
        }
        LDIFRecord theRecord;
        std::memset(&theRecord, 0, sizeof theRecord);
        int theRc = ldap_parse_ldif_record(&theText, theStart, &theRecord, "ldif",
                                           LDIF_DEFAULT_ADD | LDIF_NO_CONTROLS);
        if (theRc != 0)
        {
            platform::reportLog(platform::Report_error, "LDIF file \"%s\" line %lu: malformed record skipped", thePath.c_str(),
                    theStart);
        }
        else
        {
            addRecord(theRecord, theStart);
        }
        ldap_ldif_record_done(&theRecord);
    }
    ber_memfree(theBuffer);
    ldif_close(theFile);

    buildDomains();
    assignDomains();
    deriveMemberOf();
    buildIndexes();
}

void Loader::addRecord(const LDIFRecord& inRecord, unsigned long inLine)
{
    const std::string& thePath = itsDir.itsPath;
    if (inRecord.lr_op != LDAP_REQ_ADD)
    {
        platform::reportLog(platform::Report_error, "LDIF file \"%s\" line %lu: only new entries are loaded; change record skipped",
                thePath.c_str(), inLine);
        return;
    }
    std::string theDnText(inRecord.lr_dn.bv_val ? inRecord.lr_dn.bv_val : "", inRecord.lr_dn.bv_len);
    std::vector<dn::Rdn> theRdns;
    if (theDnText.empty() || !dn::parseDN(theDnText, theRdns))
    {
        platform::reportLog(platform::Report_error, "LDIF file \"%s\" line %lu: \"%s\" is not a distinguished name; record skipped",
                thePath.c_str(), inLine, theDnText.c_str());
        return;
    }
    std::string theKey = dn::normalizeRdns(theRdns);
    std::uint32_t theDn = internDn(theDnText, theKey);
    if (itsDir.itsEntryOfDn[theDn] != NoIndex)
    {
        const Entry& theFirst = itsDir.itsEntries[itsDir.itsEntryOfDn[theDn]];
        platform::reportLog(platform::Report_error, "LDIF file \"%s\" line %lu: entry \"%s\" already defined at line %" PRIu32 "; record skipped",
                thePath.c_str(), inLine, theDnText.c_str(), theFirst.itsLine);
        return;
    }
    // The entry's own spelling wins over one met earlier in a member value.
    itsDir.itsDnText[theDn] = theDnText;

    // A fresh mark value per record: marks of earlier records count as unset.
    std::uint32_t theMarkEpoch = ++itsMarkEpoch;
    Entry theEntry;
    theEntry.itsDn = theDn;
    theEntry.itsLine = static_cast<std::uint32_t>(inLine);
    theEntry.itsRdnText = theRdns[0].itsText;
    theEntry.itsRdnValue = theRdns[0].itsAvas[0].itsValue;

    for (LDAPMod** curMod = inRecord.lrop_mods; curMod && *curMod; ++curMod)
    {
        const LDAPMod* theMod = *curMod;
        if (!theMod->mod_type || !theMod->mod_bvalues)
            continue;
        // Options such as ";binary" or the ";range=0-1499" of a long member
        // list do not change what the values are.
        std::string theType = lower(theMod->mod_type);
        std::size_t theSemicolon = theType.find(';');
        if (theSemicolon != std::string::npos)
            theType.erase(theSemicolon);
        if (theType == "memberof")
            continue; // the directory maintains it from member
        bool theIsMember = theType == "member";
        std::uint32_t theAttr = theIsMember ? NoIndex : internAttr(theType);
        for (struct berval** curValue = theMod->mod_bvalues; *curValue; ++curValue)
        {
            std::string theValue((*curValue)->bv_val ? (*curValue)->bv_val : "", (*curValue)->bv_len);
            if (theIsMember)
            {
                std::string theMemberKey;
                if (!dn::normalizeDN(theValue, theMemberKey))
                {
                    platform::reportLog(platform::Report_error, "LDIF file \"%s\" line %lu: member value \"%s\" of \"%s\" is not a distinguished name; ignored",
                            thePath.c_str(), inLine, theValue.c_str(), theDnText.c_str());
                    continue;
                }
                std::uint32_t theMember = internDn(theValue, theMemberKey);
                // A repeated value is stored once; the mark per DN id keeps
                // this linear where a scan of the list was quadratic.
                if (theMember >= itsMemberMark.size())
                    itsMemberMark.resize(itsDir.itsDnText.size(), 0);
                if (itsMemberMark[theMember] != theMarkEpoch)
                {
                    itsMemberMark[theMember] = theMarkEpoch;
                    theEntry.itsMembers.push_back(theMember);
                }
                continue;
            }
            if (theAttr == Attr_objectSid)
            {
                // Text as some exports write it, or the binary value.
                std::string theSid = names::canonicalSid(theValue);
                if (theSid.empty() && !names::sidToText(theValue, theSid))
                {
                    platform::reportLog(platform::Report_error, "LDIF file \"%s\" line %lu: objectSid of \"%s\" is not a SID; ignored",
                            thePath.c_str(), inLine, theDnText.c_str());
                    continue;
                }
                theValue = theSid;
            }
            else if (theAttr == Attr_objectGUID)
            {
                std::string theGuid;
                std::string theGuidBytes;
                if (theValue.size() == 38 && theValue.front() == '{' &&
                    names::guidFromText(theValue, theGuidBytes))
                    names::guidToText(theGuidBytes, theGuid);
                else if (!names::guidToText(theValue, theGuid))
                {
                    platform::reportLog(platform::Report_error, "LDIF file \"%s\" line %lu: objectGUID of \"%s\" is not a GUID; ignored",
                            thePath.c_str(), inLine, theDnText.c_str());
                    continue;
                }
                theValue = theGuid;
            }
            else if (theAttr == Attr_objectClass)
            {
                std::string theClass = lower(theValue);
                if (theClass == "user")
                    theEntry.itsClasses |= Class_User;
                else if (theClass == "computer")
                    theEntry.itsClasses |= Class_Computer | Class_User;
                else if (theClass == "group")
                    theEntry.itsClasses |= Class_Group;
                else if (theClass == "contact")
                    theEntry.itsClasses |= Class_Contact;
                else if (theClass == "domaindns")
                    theEntry.itsClasses |= Class_DomainDNS;
                else if (theClass == "crossref")
                    theEntry.itsClasses |= Class_CrossRef;
            }
            theEntry.itsAttrs.emplace_back(theAttr, std::move(theValue));
        }
    }
    if (!theEntry.itsMembers.empty() && !theEntry.is(Class_Group))
    {
        platform::reportLog(platform::Report_error, "LDIF file \"%s\" line %lu: \"%s\" has member values but is no group; they are ignored",
                thePath.c_str(), inLine, theDnText.c_str());
        theEntry.itsMembers.clear();
    }
    itsDir.itsEntryOfDn[theDn] = static_cast<std::uint32_t>(itsDir.itsEntries.size());
    itsDir.itsEntries.push_back(std::move(theEntry));
}

void Loader::buildDomains()
{
    // Domains named by crossRef entries first (they carry the NetBIOS name),
    // then domainDNS entries that have none: for those the names follow from
    // the DC= components.
    for (const Entry& curEntry : itsDir.itsEntries)
    {
        if (!curEntry.is(Class_CrossRef))
            continue;
        const std::string* theNc = curEntry.firstValue(Attr_nCName);
        const std::string* theNetbios = curEntry.firstValue(Attr_nETBIOSName);
        const std::string* theDns = curEntry.firstValue(Attr_dnsRoot);
        if (!theNc || !theNetbios)
            continue; // the configuration and schema partitions
        std::vector<dn::Rdn> theRdns;
        if (!dn::parseDN(*theNc, theRdns))
        {
            platform::reportLog(platform::Report_error, "LDIF file \"%s\" line %" PRIu32 ": nCName \"%s\" is not a distinguished name; ignored",
                    itsDir.itsPath.c_str(), curEntry.itsLine, theNc->c_str());
            continue;
        }
        std::uint32_t theNcDn = internDn(*theNc, dn::normalizeRdns(theRdns));
        bool theKnown = false;
        for (const Domain& curDomain : itsDir.itsDomains)
            theKnown = theKnown || curDomain.itsNcDn == theNcDn;
        if (theKnown)
            continue;
        Domain theDomain;
        theDomain.itsNcDn = theNcDn;
        theDomain.itsNcRdnCount = theRdns.size();
        theDomain.itsNetbios = *theNetbios;
        if (theDns)
            theDomain.itsDnsRoot = *theDns;
        else
            for (const dn::Rdn& curRdn : theRdns)
                if (lower(curRdn.itsAvas[0].itsType) == "dc")
                    theDomain.itsDnsRoot += (theDomain.itsDnsRoot.empty() ? "" : ".") + curRdn.itsAvas[0].itsValue;
        itsDir.itsDomains.push_back(std::move(theDomain));
    }
    for (const Entry& curEntry : itsDir.itsEntries)
    {
        if (!curEntry.is(Class_DomainDNS))
            continue;
        bool theKnown = false;
        for (const Domain& curDomain : itsDir.itsDomains)
            theKnown = theKnown || curDomain.itsNcDn == curEntry.itsDn;
        if (theKnown)
            continue;
        std::vector<dn::Rdn> theRdns;
        dn::parseDN(itsDir.itsDnText[curEntry.itsDn], theRdns);
        Domain theDomain;
        theDomain.itsNcDn = curEntry.itsDn;
        theDomain.itsNcRdnCount = theRdns.size();
        for (const dn::Rdn& curRdn : theRdns)
        {
            if (lower(curRdn.itsAvas[0].itsType) != "dc")
                continue;
            if (theDomain.itsNetbios.empty())
                theDomain.itsNetbios = upper(curRdn.itsAvas[0].itsValue);
            theDomain.itsDnsRoot += (theDomain.itsDnsRoot.empty() ? "" : ".") + curRdn.itsAvas[0].itsValue;
        }
        if (theDomain.itsNetbios.empty())
        {
            platform::reportLog(platform::Report_error, "LDIF file \"%s\" line %" PRIu32 ": domain \"%s\" has no DC= component and no crossRef; ignored",
                    itsDir.itsPath.c_str(), curEntry.itsLine, itsDir.itsDnText[curEntry.itsDn].c_str());
            continue;
        }
        itsDir.itsDomains.push_back(std::move(theDomain));
    }
}

// Each entry belongs to the domain whose naming context is the longest
// suffix of its DN.
void Loader::assignDomains()
{
    if (itsDir.itsDomains.empty())
        return;
    std::unordered_map<std::string, std::uint32_t> theByKey;
    for (std::uint32_t curDomain = 0; curDomain < itsDir.itsDomains.size(); ++curDomain)
        theByKey.emplace(*itsDir.itsDnKey[itsDir.itsDomains[curDomain].itsNcDn], curDomain);
    for (Entry& curEntry : itsDir.itsEntries)
    {
        const std::string& theKey = *itsDir.itsDnKey[curEntry.itsDn];
        std::size_t theStart = 0;
        while (theStart <= theKey.size())
        {
            auto theFound = theByKey.find(theKey.substr(theStart));
            if (theFound != theByKey.end())
            {
                curEntry.itsDomain = theFound->second;
                break;
            }
            // Next unescaped ',' of the normal form.
            std::size_t curPos = theStart;
            while (curPos < theKey.size() && theKey[curPos] != ',')
                curPos += theKey[curPos] == '\\' ? 2 : 1;
            if (curPos >= theKey.size())
                break;
            theStart = curPos + 1;
        }
    }
}

void Loader::deriveMemberOf()
{
    for (const Entry& curGroup : itsDir.itsEntries)
    {
        for (std::uint32_t curMember : curGroup.itsMembers)
        {
            std::uint32_t theEntry = itsDir.itsEntryOfDn[curMember];
            if (theEntry == NoIndex)
            {
                platform::reportLog(platform::Report_error, "LDIF file \"%s\" line %" PRIu32 ": member \"%s\" of \"%s\" names no entry",
                        itsDir.itsPath.c_str(), curGroup.itsLine, itsDir.itsDnText[curMember].c_str(),
                        itsDir.itsDnText[curGroup.itsDn].c_str());
                continue;
            }
            itsDir.itsEntries[theEntry].itsMemberOf.push_back(curGroup.itsDn);
        }
    }
}

void Loader::buildIndexes()
{
    for (std::uint32_t curIndex = 0; curIndex < itsDir.itsEntries.size(); ++curIndex)
    {
        const Entry& curEntry = itsDir.itsEntries[curIndex];
        for (const auto& [curAttr, curValue] : curEntry.itsAttrs)
        {
            switch (curAttr)
            {
                case Attr_sAMAccountName: itsDir.itsBySam[lower(curValue)].push_back(curIndex); break;
                case Attr_userPrincipalName: itsDir.itsByUpn[lower(curValue)].push_back(curIndex); break;
                case Attr_objectSid: itsDir.itsBySid[lower(curValue)].push_back(curIndex); break;
                case Attr_objectGUID: itsDir.itsByGuid[lower(curValue)].push_back(curIndex); break;
                default: break;
            }
        }
    }
}

struct CacheSlot
{
    std::int64_t itsMtimeNs = 0;
    std::int64_t itsSize = -1;
    std::uint64_t itsInode = 0;
    std::shared_ptr<const Directory> itsDir;
};

platform::OsLock& cacheMutex()
{
    static platform::OsLock theMutex;
    return theMutex;
}

std::map<std::string, CacheSlot>& cache()
{
    static std::map<std::string, CacheSlot> theCache;
    return theCache;
}

} // namespace

const std::string* Entry::firstValue(std::uint32_t inAttr) const
{
    for (const auto& [curAttr, curValue] : itsAttrs)
        if (curAttr == inAttr)
            return &curValue;
    return nullptr;
}

Directory::Directory()
{
    for (std::uint32_t curId = 0; curId < Attr_knownCount; ++curId)
    {
        itsAttrNames.push_back(theKnownAttrs[curId]);
        itsAttrIds.emplace(theKnownAttrs[curId], curId);
    }
}

std::uint32_t Directory::findDn(const std::string& inDN) const
{
    std::string theKey;
    if (!dn::normalizeDN(inDN, theKey))
        return NoIndex;
    auto theFound = itsDnIds.find(theKey);
    return theFound == itsDnIds.end() ? NoIndex : theFound->second;
}

bool Directory::findPathDn(const std::string& inPath, std::uint32_t& outDn, bool& outBadPath) const
{
    std::uint32_t thePrimary = NoIndex;
    return findPathDn(inPath, outDn, outBadPath, thePrimary);
}

bool Directory::findPathDn(const std::string& inPath, std::uint32_t& outDn, bool& outBadPath,
                           std::uint32_t& outPrimaryGroup) const
{
    platform::OsLockGuard theLock(itsPathMutex);
    if (itsLastPathResult < 0 || itsLastPath != inPath)
    {
        std::string theServer;
        std::string theDN;
        std::string theKey;
        itsLastPathDn = NoIndex;
        itsLastPathPrimary = NoIndex;
        if (!dn::parseLdapPath(inPath, theServer, theDN))
            itsLastPathResult = 1;
        else if (!dn::normalizeDN(theDN, theKey))
            itsLastPathResult = 2;
        else
        {
            itsLastPathResult = 0;
            auto theFound = itsDnIds.find(theKey);
            if (theFound != itsDnIds.end())
            {
                itsLastPathDn = theFound->second;
                if (const Entry* theEntry = entryOfDn(itsLastPathDn))
                    itsLastPathPrimary = primaryGroupOf(*theEntry);
            }
        }
        itsLastPath = inPath;
    }
    outDn = itsLastPathDn;
    outBadPath = itsLastPathResult == 1;
    outPrimaryGroup = itsLastPathPrimary;
    return itsLastPathResult == 0;
}

std::uint32_t Directory::primaryGroupOf(const Entry& inEntry) const
{
    const std::string* theSid = inEntry.firstValue(Attr_objectSid);
    const std::string* theRid = inEntry.firstValue(Attr_primaryGroupID);
    std::string theGroupSid;
    if (!theSid || !theRid || !names::primaryGroupSid(*theSid, true, *theRid, theGroupSid))
        return NoIndex;
    auto theFound = itsBySid.find(lower(theGroupSid));
    if (theFound == itsBySid.end())
        return NoIndex;
    for (std::uint32_t curEntry : theFound->second)
        if (itsEntries[curEntry].is(Class_Group))
            return curEntry;
    return NoIndex;
}

const Entry* Directory::entryOfDn(std::uint32_t inDn) const
{
    if (inDn >= itsEntryOfDn.size() || itsEntryOfDn[inDn] == NoIndex)
        return nullptr;
    return &itsEntries[itsEntryOfDn[inDn]];
}

std::uint32_t Directory::findAttr(const std::string& inName) const
{
    auto theFound = itsAttrIds.find(lower(inName));
    return theFound == itsAttrIds.end() ? NoIndex : theFound->second;
}

std::uint32_t Directory::findDomainByNetbios(const std::string& inName) const
{
    std::string theName = lower(inName);
    for (std::uint32_t curDomain = 0; curDomain < itsDomains.size(); ++curDomain)
        if (lower(itsDomains[curDomain].itsNetbios) == theName)
            return curDomain;
    return NoIndex;
}

std::uint32_t Directory::findDomainByDns(const std::string& inName) const
{
    std::string theName = lower(inName);
    if (!theName.empty() && theName.back() == '.')
        theName.pop_back();
    for (std::uint32_t curDomain = 0; curDomain < itsDomains.size(); ++curDomain)
        if (lower(itsDomains[curDomain].itsDnsRoot) == theName)
            return curDomain;
    return NoIndex;
}

std::uint32_t Directory::findDomain(const std::string& inName) const
{
    std::uint32_t theDomain = findDomainByNetbios(inName);
    return theDomain != NoIndex ? theDomain : findDomainByDns(inName);
}

std::string Directory::canonicalName(const Entry& inEntry) const
{
    if (inEntry.itsDomain == NoIndex)
        return std::string();
    const Domain& theDomain = itsDomains[inEntry.itsDomain];
    std::vector<dn::Rdn> theRdns;
    if (!dn::parseDN(itsDnText[inEntry.itsDn], theRdns) || theRdns.size() < theDomain.itsNcRdnCount)
        return std::string();
    std::string theName = theDomain.itsDnsRoot + "/";
    std::size_t theRelative = theRdns.size() - theDomain.itsNcRdnCount;
    for (std::size_t curRdn = theRelative; curRdn > 0; --curRdn)
    {
        for (char curChar : theRdns[curRdn - 1].itsAvas[0].itsValue)
        {
            if (curChar == '/' || curChar == '\\')
                theName += '\\';
            theName += curChar;
        }
        if (curRdn > 1)
            theName += '/';
    }
    return theName;
}

std::shared_ptr<const Directory> loadDirectory(const std::string& inPath)
{
    platform::OsLockGuard theLock(cacheMutex());
    struct stat theStat;
    bool theStated = ::stat(inPath.c_str(), &theStat) == 0;
    if (theStated)
    {
        std::int64_t theMtime = static_cast<std::int64_t>(theStat.st_mtim.tv_sec) * 1000000000 + theStat.st_mtim.tv_nsec;
        auto theFound = cache().find(inPath);
        if (theFound != cache().end() && theFound->second.itsMtimeNs == theMtime &&
            theFound->second.itsSize == static_cast<std::int64_t>(theStat.st_size) &&
            theFound->second.itsInode == static_cast<std::uint64_t>(theStat.st_ino))
            return theFound->second.itsDir;
    }

    auto theDir = std::make_shared<Directory>();
    theDir->itsPath = inPath;
    std::string theText;
    std::string theError;
    if (!readFile(inPath, theText, theError))
    {
        platform::reportLog(platform::Report_error, "LDIF file \"%s\" cannot be read: %s", inPath.c_str(), theError.c_str());
        return theDir;
    }
    Loader(*theDir).load(theText);
    if (theStated)
    {
        CacheSlot& theSlot = cache()[inPath];
        theSlot.itsMtimeNs = static_cast<std::int64_t>(theStat.st_mtim.tv_sec) * 1000000000 + theStat.st_mtim.tv_nsec;
        theSlot.itsSize = static_cast<std::int64_t>(theStat.st_size);
        theSlot.itsInode = static_cast<std::uint64_t>(theStat.st_ino);
        theSlot.itsDir = theDir;
    }
    return theDir;
}

} // namespace corvel::directory::ldif
