#include "corvel/platform/directory/ldif/ldif_faults_env.h"

#include <cerrno>
#include <cstdlib>
#include <mutex>

#include "corvel/debug/qzinfolog.h"
#include "corvel/platform/directory/dn.h"

namespace corvel::directory::ldif
{

namespace
{

struct OpName
{
    const char* itsName;
    FaultOp itsOp;
};

constexpr OpName theOpNames[] = {
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

bool findOp(const std::string& inName, FaultOp& outOp)
{
    std::string theName = dn::toLowerAscii(inName);
    for (const OpName& curName : theOpNames)
        if (theName == curName.itsName)
        {
            outOp = curName.itsOp;
            return true;
        }
    return false;
}

// Hex with "0x", or decimal; the whole text must be the number and it must
// fit 32 bits.
bool parseStatus(const std::string& inText, Status& outStatus)
{
    if (inText.empty())
        return false;
    int theBase = 10;
    std::size_t theStart = 0;
    if (inText.size() > 2 && inText[0] == '0' && (inText[1] == 'x' || inText[1] == 'X'))
    {
        theBase = 16;
        theStart = 2;
    }
    unsigned long long theValue = 0;
    for (std::size_t curPos = theStart; curPos < inText.size(); ++curPos)
    {
        char curChar = inText[curPos];
        unsigned theDigit = 0;
        if (curChar >= '0' && curChar <= '9')
            theDigit = static_cast<unsigned>(curChar - '0');
        else if (theBase == 16 && curChar >= 'a' && curChar <= 'f')
            theDigit = static_cast<unsigned>(curChar - 'a' + 10);
        else if (theBase == 16 && curChar >= 'A' && curChar <= 'F')
            theDigit = static_cast<unsigned>(curChar - 'A' + 10);
        else
            return false;
        theValue = theValue * static_cast<unsigned>(theBase) + theDigit;
        if (theValue > 0xFFFFFFFFull)
            return false;
    }
    outStatus = static_cast<Status>(theValue);
    return true;
}

// One "OP:TARGET:STATUS" entry.
bool parseEntry(const std::string& inEntry, FaultSpec& outSpec)
{
    std::size_t theFirst = inEntry.find(':');
    std::size_t theLast = inEntry.rfind(':');
    if (theFirst == std::string::npos || theFirst == theLast)
        return false;
    FaultOp theOp;
    Status theStatus = 0;
    if (!findOp(inEntry.substr(0, theFirst), theOp) || !parseStatus(inEntry.substr(theLast + 1), theStatus))
        return false;
    outSpec = FaultSpec{theOp, inEntry.substr(theFirst + 1, theLast - theFirst - 1), theStatus};
    return true;
}

} // namespace

std::vector<FaultSpec> parseFaultSpecs(const std::string& inText, std::vector<std::string>& outErrors)
{
    std::vector<FaultSpec> theSpecs;
    std::string theEntry;
    auto flush = [&]() {
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
        char curChar = inText[curPos];
        if (curChar == '\\' && curPos + 1 < inText.size())
        {
            theEntry += curChar;
            theEntry += inText[++curPos];
        }
        else if (curChar == ';')
            flush();
        else
            theEntry += curChar;
    }
    flush();
    return theSpecs;
}

void applyEnvironmentFaults()
{
    static std::once_flag theOnce;
    std::call_once(theOnce, []() {
        const char* theText = std::getenv("CORVEL_LDIF_FAULTS");
        if (!theText || !*theText)
            return;
        std::vector<std::string> theErrors;
        for (const FaultSpec& curSpec : parseFaultSpecs(theText, theErrors))
            injectFault(curSpec.itsOp, curSpec.itsTarget, curSpec.itsStatus);
        for (const std::string& curError : theErrors)
            infoLog(qzLogError, "CORVEL_LDIF_FAULTS: entry \"%s\" ignored (expected OP:TARGET:STATUS)",
                    curError.c_str());
    });
}

} // namespace corvel::directory::ldif
