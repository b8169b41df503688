#include "tests/support/dir_faults.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "corvel/testing/platform_hooks.h"
#include "corvel/platform/directory/dn.h"

namespace corvel::directory::faults
{

namespace
{

// The one spelling faults are matched by: the normal form of a DN, the
// lower-case text of anything else.
std::string faultKey(const std::string& inName)
{
    std::string theKey;
    if (inName.find('=') != std::string::npos && dn::normalizeDN(inName, theKey))
        return theKey;
    return dn::toLowerAscii(inName);
}

struct Fault
{
    FaultOp itsOp;
    std::string itsKey;
    Status itsStatus;
};

std::mutex& faultMutex()
{
    static std::mutex theMutex;
    return theMutex;
}

std::vector<Fault>& faults()
{
    static std::vector<Fault> theFaults;
    return theFaults;
}

// Read without the lock so that calls with no fault set pay nothing.
std::atomic<std::size_t> theFaultCount{0};

Status check(FaultOp inOp, const std::string& inName, const std::string& inOtherName = {})
{
    if (theFaultCount.load(std::memory_order_relaxed) == 0)
        return S_ok;
    std::lock_guard<std::mutex> theLock(faultMutex());
    std::string theKey;
    std::string theOtherKey;
    bool theKeysMade = false;
    for (const Fault& curFault : faults())
    {
        if (curFault.itsOp != inOp)
            continue;
        if (curFault.itsKey.empty() || inOp == FaultOp::CreateTranslator)
            return curFault.itsStatus;
        if (!theKeysMade)
        {
            theKey = faultKey(inName);
            theOtherKey = inOtherName.empty() ? std::string() : faultKey(inOtherName);
            theKeysMade = true;
        }
        if (curFault.itsKey == theKey || (!theOtherKey.empty() && curFault.itsKey == theOtherKey))
            return curFault.itsStatus;
    }
    return S_ok;
}

// The key of an object: its DN, in the spelling the directory gives it.
std::string objectKey(DirObject& inObject)
{
    std::string theDN;
    if (failed(inObject.get("distinguishedName", theDN)))
        theDN.clear();
    return theDN;
}

std::unique_ptr<DirObject> wrapObject(std::unique_ptr<DirObject> inObject, std::string inKey);

class FaultingEnumerator final : public DirEnumerator
{
public:
    FaultingEnumerator(std::unique_ptr<DirEnumerator> inInner, std::string inOwnerKey)
        : itsInner(std::move(inInner)), itsOwnerKey(std::move(inOwnerKey))
    {
    }

    Status next(std::unique_ptr<DirObject>& outObject) override
    {
        outObject.reset();
        const Status theFault = check(FaultOp::Next, itsOwnerKey);
        if (theFault != S_ok)
            return theFault;
        std::unique_ptr<DirObject> theObject;
        const Status theStatus = itsInner->next(theObject);
        if (theObject)
        {
            std::string theKey = objectKey(*theObject);
            outObject = wrapObject(std::move(theObject), std::move(theKey));
        }
        return theStatus;
    }

private:
    std::unique_ptr<DirEnumerator> itsInner;
    std::string itsOwnerKey;
};

class FaultingObject final : public DirGroup, public DirUser
{
public:
    FaultingObject(std::unique_ptr<DirObject> inInner, std::string inKey)
        : itsInner(std::move(inInner)), itsKey(std::move(inKey))
    {
    }

    Status getName(std::string& outName) override
    {
        const Status theFault = check(FaultOp::RelativeName, itsKey);
        return theFault != S_ok ? theFault : itsInner->getName(outName);
    }
    Status get(const std::string& inAttribute, std::string& outValue) override
    {
        const Status theFault = check(FaultOp::Get, itsKey);
        return theFault != S_ok ? theFault : itsInner->get(inAttribute, outValue);
    }
    Status getEx(const std::string& inAttribute, std::vector<std::string>& outValues) override
    {
        const Status theFault = check(FaultOp::GetEx, itsKey);
        return theFault != S_ok ? theFault : itsInner->getEx(inAttribute, outValues);
    }
    DirGroup* asGroup() override { return itsInner->asGroup() ? this : nullptr; }
    DirUser* asUser() override { return itsInner->asUser() ? this : nullptr; }

    Status isMember(const std::string& inPath, bool& outIsMember) override
    {
        outIsMember = false;
        const Status theFault = check(FaultOp::IsMember, itsKey);
        if (theFault != S_ok)
            return theFault;
        DirGroup* theGroup = itsInner->asGroup();
        return theGroup ? theGroup->isMember(inPath, outIsMember) : E_noInterface;
    }
    Status members(std::unique_ptr<DirEnumerator>& outMembers) override
    {
        outMembers.reset();
        const Status theFault = check(FaultOp::Members, itsKey);
        if (theFault != S_ok)
            return theFault;
        DirGroup* theGroup = itsInner->asGroup();
        if (!theGroup)
            return E_noInterface;
        return enumerate(theGroup->members(outMembers), outMembers);
    }
    Status groups(std::unique_ptr<DirEnumerator>& outGroups) override
    {
        outGroups.reset();
        const Status theFault = check(FaultOp::Groups, itsKey);
        if (theFault != S_ok)
            return theFault;
        DirUser* theUser = itsInner->asUser();
        if (!theUser)
            return E_noInterface;
        return enumerate(theUser->groups(outGroups), outGroups);
    }
    Status primaryGroup(std::string& outGroupDN) override
    {
        outGroupDN.clear();
        const Status theFault = check(FaultOp::PrimaryGroup, itsKey);
        if (theFault != S_ok)
            return theFault;
        DirUser* theUser = itsInner->asUser();
        return theUser ? theUser->primaryGroup(outGroupDN) : E_noInterface;
    }

private:
    Status enumerate(Status inStatus, std::unique_ptr<DirEnumerator>& ioEnumerator)
    {
        if (ioEnumerator)
            ioEnumerator = std::make_unique<FaultingEnumerator>(std::move(ioEnumerator), itsKey);
        return inStatus;
    }

    std::unique_ptr<DirObject> itsInner;
    std::string itsKey;
};

std::unique_ptr<DirObject> wrapObject(std::unique_ptr<DirObject> inObject, std::string inKey)
{
    return std::make_unique<FaultingObject>(std::move(inObject), std::move(inKey));
}

class FaultingTranslator final : public NameTranslator
{
public:
    explicit FaultingTranslator(std::unique_ptr<NameTranslator> inInner)
        : itsInner(std::move(inInner))
    {
    }

    Status init(InitType inKind, const std::string& inPath) override
    {
        const Status theFault = check(FaultOp::InitTranslator, inPath);
        return theFault != S_ok ? theFault : itsInner->init(inKind, inPath);
    }
    Status initEx(InitType inKind, const std::string& inPath, const std::string& inUser,
                  const std::string& inDomain, const std::string& inPassword) override
    {
        const Status theFault = check(FaultOp::InitTranslator, inPath);
        return theFault != S_ok ? theFault
                                : itsInner->initEx(inKind, inPath, inUser, inDomain, inPassword);
    }
    Status set(NameType inType, const std::string& inName) override
    {
        itsSetName = inName;
        const Status theFault = check(FaultOp::SetName, inName);
        return theFault != S_ok ? theFault : itsInner->set(inType, inName);
    }
    Status get(NameType inType, std::string& outName) override
    {
        std::string theDN;
        if (theFaultCount.load(std::memory_order_relaxed) != 0 &&
            failed(itsInner->get(NameType_1779, theDN)))
            theDN.clear();
        const Status theFault = check(FaultOp::GetName, itsSetName, theDN);
        return theFault != S_ok ? theFault : itsInner->get(inType, outName);
    }

private:
    std::unique_ptr<NameTranslator> itsInner;
    std::string itsSetName;
};

class FaultingService final : public DirectoryService
{
public:
    explicit FaultingService(std::shared_ptr<DirectoryService> inInner)
        : itsInner(std::move(inInner))
    {
    }

    Status createNameTranslator(std::unique_ptr<NameTranslator>& outTranslator) override
    {
        outTranslator.reset();
        const Status theFault = check(FaultOp::CreateTranslator, std::string());
        if (theFault != S_ok)
            return theFault;
        const Status theStatus = itsInner->createNameTranslator(outTranslator);
        if (outTranslator)
            outTranslator = std::make_unique<FaultingTranslator>(std::move(outTranslator));
        return theStatus;
    }

    Status openObject(const std::string& inPath, const Credentials* inCredentials,
                      ObjectKind inKind, std::unique_ptr<DirObject>& outObject) override
    {
        outObject.reset();
        std::string theServer;
        std::string theDN;
        if (dn::parseLdapPath(inPath, theServer, theDN))
        {
            const Status theFault = check(FaultOp::Open, theDN);
            if (theFault != S_ok)
                return theFault;
        }
        const Status theStatus = itsInner->openObject(inPath, inCredentials, inKind, outObject);
        if (outObject)
            outObject = wrapObject(std::move(outObject), theDN);
        return theStatus;
    }

private:
    std::shared_ptr<DirectoryService> itsInner;
};

std::shared_ptr<DirectoryService> provide() { return wrap(openDirectoryService()); }

void install() { setServiceProvider(&provide); }

// "Open" -> FaultOp::Open, without regard to case.
bool findOp(const std::string& inName, FaultOp& outOp)
{
    static const std::pair<const char*, FaultOp> kNames[] = {
        {"createtranslator", FaultOp::CreateTranslator},
        {"inittranslator", FaultOp::InitTranslator},
        {"setname", FaultOp::SetName},
        {"getname", FaultOp::GetName},
        {"open", FaultOp::Open},
        {"relativename", FaultOp::RelativeName},
        {"get", FaultOp::Get},
        {"getex", FaultOp::GetEx},
        {"ismember", FaultOp::IsMember},
        {"members", FaultOp::Members},
        {"groups", FaultOp::Groups},
        {"next", FaultOp::Next},
        {"primarygroup", FaultOp::PrimaryGroup},
    };
    const std::string theName = dn::toLowerAscii(inName);
    for (const auto& [curName, curOp] : kNames)
        if (theName == curName)
        {
            outOp = curOp;
            return true;
        }
    return false;
}

// Hex with "0x", or decimal; the whole text must be the number and fit 32 bits.
bool parseStatus(const std::string& inText, Status& outStatus)
{
    const bool theHex =
        inText.size() > 2 && inText[0] == '0' && (inText[1] == 'x' || inText[1] == 'X');
    const std::string theDigits = theHex ? inText.substr(2) : inText;
    if (theDigits.empty() ||
        theDigits.find_first_not_of(theHex ? "0123456789abcdefABCDEF" : "0123456789") !=
            std::string::npos)
        return false;
    const unsigned long long theValue = std::strtoull(theDigits.c_str(), nullptr, theHex ? 16 : 10);
    if (theDigits.size() > 20 || theValue > 0xFFFFFFFFull)
        return false;
    outStatus = static_cast<Status>(theValue);
    return true;
}

bool parseEntry(const std::string& inEntry, FaultSpec& outSpec)
{
    const std::size_t theFirst = inEntry.find(':');
    const std::size_t theLast = inEntry.rfind(':');
    if (theFirst == std::string::npos || theFirst == theLast)
        return false;
    FaultOp theOp;
    Status theStatus = 0;
    if (!findOp(inEntry.substr(0, theFirst), theOp) ||
        !parseStatus(inEntry.substr(theLast + 1), theStatus))
        return false;
    outSpec = FaultSpec{theOp, inEntry.substr(theFirst + 1, theLast - theFirst - 1), theStatus};
    return true;
}

// Every session of a program that links this gets the wrapping service
// (faults injected later act on sessions already open), and a test build of
// a program names its faults in the environment.
struct EnvironmentFaults
{
    EnvironmentFaults()
    {
        install();
        const char* theText = std::getenv("CORVEL_DIRECTORY_FAULTS");
        if (!theText || !*theText)
            return;
        std::vector<std::string> theErrors;
        for (const FaultSpec& curSpec : parseFaultSpecs(theText, theErrors))
            injectFault(curSpec.itsOp, curSpec.itsTarget, curSpec.itsStatus);
        for (const std::string& curError : theErrors)
            std::fprintf(
                stderr,
                "CORVEL_DIRECTORY_FAULTS: entry \"%s\" ignored (expected OP:TARGET:STATUS)\n",
                curError.c_str());
    }
};
EnvironmentFaults theEnvironmentFaults;

} // namespace

void injectFault(FaultOp inOp, const std::string& inTarget, Status inStatus)
{
    {
        std::lock_guard<std::mutex> theLock(faultMutex());
        faults().push_back(Fault{inOp, faultKey(inTarget), inStatus});
        theFaultCount.store(faults().size(), std::memory_order_relaxed);
    }
}

void clearFaults()
{
    std::lock_guard<std::mutex> theLock(faultMutex());
    faults().clear();
    theFaultCount.store(0, std::memory_order_relaxed);
}

std::shared_ptr<DirectoryService> wrap(std::shared_ptr<DirectoryService> inService)
{
    return std::make_shared<FaultingService>(std::move(inService));
}

std::vector<FaultSpec> parseFaultSpecs(const std::string& inText,
                                       std::vector<std::string>& outErrors)
{
    std::vector<FaultSpec> theSpecs;
    std::string theEntry;
    const auto theFlush = [&]()
    {
        FaultSpec theSpec{};
        if (!theEntry.empty())
        {
            if (parseEntry(theEntry, theSpec))
                theSpecs.push_back(std::move(theSpec));
            else
                outErrors.push_back(theEntry);
        }
        theEntry.clear();
    };
    for (std::size_t curPos = 0; curPos < inText.size(); ++curPos)
    {
        const char curChar = inText[curPos];
        if (curChar == '\\' && curPos + 1 < inText.size())
        {
            theEntry += curChar;
            theEntry += inText[++curPos];
        }
        else if (curChar == ';')
            theFlush();
        else
            theEntry += curChar;
    }
    theFlush();
    return theSpecs;
}

} // namespace corvel::directory::faults
