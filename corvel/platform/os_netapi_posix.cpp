// The global groups of an account, from the configured directory.
#include "corvel/platform/os_netapi.h"

#include <cstdlib>
#include <memory>

#include "corvel/platform/directory/dir_service.h"
#include "corvel/platform/os_text.h"

namespace corvel::platform
{

namespace
{

using namespace corvel::directory;

constexpr long theGlobalScope = 0x2;

std::string narrowOf(const std::wstring& inWide)
{
    std::u16string theUtf16;
    for (wchar_t curChar : inWide)
    {
        const std::uint32_t theCode = static_cast<std::uint32_t>(curChar);
        if (theCode >= 0x10000 && theCode <= 0x10FFFF)
        {
            theUtf16 += static_cast<char16_t>(0xD800 + ((theCode - 0x10000) >> 10));
            theUtf16 += static_cast<char16_t>(0xDC00 + ((theCode - 0x10000) & 0x3FF));
        }
        else
            theUtf16 += static_cast<char16_t>(theCode);
    }
    return wideToNarrow(theUtf16.c_str());
}

// UTF-8 to wide; a byte that starts no valid sequence stands for itself.
std::wstring wideOf(const std::string& inNarrow)
{
    std::wstring theWide;
    std::size_t curIndex = 0;
    while (curIndex < inNarrow.size())
    {
        const unsigned char theLead = static_cast<unsigned char>(inNarrow[curIndex]);
        std::size_t theLength = theLead < 0x80 ? 1 : (theLead >> 5) == 0x6 ? 2
                                : (theLead >> 4) == 0xE ? 3 : (theLead >> 3) == 0x1E ? 4 : 0;
        std::uint32_t theCode = theLength == 1 ? theLead
                                : theLength == 2 ? (theLead & 0x1Fu)
                                : theLength == 3 ? (theLead & 0x0Fu) : (theLead & 0x07u);
        bool theValid = theLength != 0 && curIndex + theLength <= inNarrow.size();
        for (std::size_t curByte = 1; theValid && curByte < theLength; ++curByte)
        {
            const unsigned char theNext = static_cast<unsigned char>(inNarrow[curIndex + curByte]);
            theValid = (theNext & 0xC0) == 0x80;
            theCode = (theCode << 6) | (theNext & 0x3Fu);
        }
        if (!theValid)
        {
            theWide += static_cast<wchar_t>(theLead);
            ++curIndex;
            continue;
        }
        theWide += static_cast<wchar_t>(theCode);
        curIndex += theLength;
    }
    return theWide;
}

// A system error number of a directory status: the Win32 code it wraps.
std::uint32_t errorOf(Status inStatus)
{
    if (isNameNotFound(inStatus))
        return NetError_userNotFound;
    if ((inStatus & 0xFFFF0000u) == 0x80070000u)
        return inStatus & 0xFFFFu;
    return NetError_noSuchDomain;
}

bool isGlobalGroup(DirObject& inGroup)
{
    std::string theType;
    if (failed(inGroup.get("groupType", theType)) || theType.empty())
        return false;
    char* theEnd = nullptr;
    const long long theValue = std::strtoll(theType.c_str(), &theEnd, 10);
    return theEnd != nullptr && *theEnd == '\0' && (theValue & theGlobalScope) != 0;
}

void addUnique(std::vector<std::string>& ioNames, const std::string& inName)
{
    for (const std::string& curName : ioNames)
        if (curName == inName)
            return;
    ioNames.push_back(inName);
}

std::string pathOf(const std::string& inDN)
{
    std::string thePath = "LDAP://";
    for (char curChar : inDN)
        thePath += curChar == '/' ? std::string("\\2f") : std::string(1, curChar);
    return thePath;
}

// The account name of the user's primary group, empty when it has none or
// the group cannot be found.
std::string primaryGroupName(DirectoryService& inService, DirObject& inUser,
                             const std::string& inUserSid)
{
    std::string theRid;
    if (failed(inUser.get("primaryGroupID", theRid)) || theRid.empty())
        return std::string();
    const std::size_t theLastDash = inUserSid.rfind('-');
    if (theLastDash == std::string::npos)
        return std::string();
    const std::string theGroupSid = inUserSid.substr(0, theLastDash + 1) + theRid;
    std::unique_ptr<NameTranslator> theTranslator;
    std::string theDN;
    if (failed(inService.createNameTranslator(theTranslator)) || !theTranslator ||
        failed(theTranslator->init(InitType_GC, "")) ||
        failed(theTranslator->set(NameType_SIDOrSIDHistory, theGroupSid)) ||
        failed(theTranslator->get(NameType_1779, theDN)))
        return std::string();
    std::unique_ptr<DirObject> theGroup;
    std::string theName;
    if (failed(inService.openObject(pathOf(theDN), nullptr, ObjectKind::Object, theGroup)) ||
        !theGroup || !isGlobalGroup(*theGroup) ||
        failed(theGroup->get("sAMAccountName", theName)))
        return std::string();
    return theName;
}

} // namespace

std::uint32_t netUserGetGroups(const std::wstring& inServer, const std::wstring& inUser,
                               std::vector<std::wstring>& outGroups,
                               std::uint32_t& outTotalEntries)
{
    outGroups.clear();
    outTotalEntries = 0;
    const std::string theServer = narrowOf(inServer);
    const std::string theUser = narrowOf(inUser);
    if (theUser.empty() || theServer.find_first_of("/@ ") != std::string::npos)
        return NetError_invalidParameter;

    try
    {
        Session theSession;
        DirectoryService& theService = theSession.service();
        std::unique_ptr<NameTranslator> theTranslator;
        Status theStatus = theService.createNameTranslator(theTranslator);
        if (failed(theStatus) || !theTranslator)
            return NetError_noSuchDomain;
        std::string theDN;
        std::string theSid;
        theStatus = theTranslator->init(InitType_GC, "");
        if (succeeded(theStatus))
            theStatus = theTranslator->set(NameType_Unknown, theUser);
        if (succeeded(theStatus))
            theStatus = theTranslator->get(NameType_1779, theDN);
        if (failed(theStatus))
            return errorOf(theStatus);
        if (failed(theTranslator->get(NameType_SIDOrSIDHistory, theSid)))
            theSid.clear();

        std::unique_ptr<DirObject> theObject;
        theStatus = theService.openObject(pathOf(theDN), nullptr, ObjectKind::User, theObject);
        if (failed(theStatus) || !theObject || theObject->asUser() == nullptr)
            return NetError_userNotFound;

        std::vector<std::string> theNames;
        const std::string thePrimary = primaryGroupName(theService, *theObject, theSid);
        if (!thePrimary.empty())
            theNames.push_back(thePrimary);

        std::unique_ptr<DirEnumerator> theGroups;
        theStatus = theObject->asUser()->groups(theGroups);
        if (failed(theStatus))
            return errorOf(theStatus);
        while (theGroups)
        {
            std::unique_ptr<DirObject> theGroup;
            if (theGroups->next(theGroup) != S_ok || !theGroup)
                break;
            std::string theName;
            if (theGroup->asGroup() != nullptr && isGlobalGroup(*theGroup) &&
                succeeded(theGroup->get("sAMAccountName", theName)) && !theName.empty())
                addUnique(theNames, theName);
        }
        for (const std::string& curName : theNames)
            outGroups.push_back(wideOf(curName));
        outTotalEntries = static_cast<std::uint32_t>(outGroups.size());
        return NetError_success;
    }
    catch (...)
    {
        outGroups.clear();
        return NetError_noSuchDomain;
    }
}

} // namespace corvel::platform
