#include "corvel/platform/directory/libldap_log.h"

#include <mutex>
#include <string_view>

#include "corvel/platform/os_report.h"

// The Windows build has no libldap; there is nothing to route.
#if __has_include(<lber.h>)
#include <lber.h>
#define CORVEL_HAS_LIBLDAP 1
#endif

namespace corvel::directory
{

namespace
{

thread_local std::vector<std::string>* theCapture = nullptr;

// A line as the libraries print it may end in a newline (or hold several
// lines). A value the decoder refused is not repeated: it may be a
// password written with the wrong separator.
void takeLine(std::string_view inLine)
{
    while (!inLine.empty() && (inLine.back() == '\n' || inLine.back() == '\r'))
        inLine.remove_suffix(1);
    if (inLine.empty())
        return;
    std::string theLine(inLine);
    constexpr std::string_view theBadChar = "invalid base64 encoding char";
    const std::size_t theBad = theLine.find(theBadChar);
    if (theBad != std::string::npos)
        theLine.erase(theBad + theBadChar.size());
    if (theCapture)
        theCapture->push_back(std::move(theLine));
    else
        reportLibldapLine(theLine);
}

[[maybe_unused]] void printFromLibrary(const char* inText)
{
    if (!inText)
        return;
    std::string_view theText(inText);
    for (std::size_t theEnd;
         (theEnd = theText.find('\n')) != std::string_view::npos && theEnd + 1 < theText.size();)
    {
        takeLine(theText.substr(0, theEnd));
        theText.remove_prefix(theEnd + 1);
    }
    takeLine(theText);
}

} // namespace

void routeLibldapDiagnostics()
{
#if defined(CORVEL_HAS_LIBLDAP)
    static std::once_flag theOnce;
    std::call_once(theOnce,
                   []
                   {
                       const BER_LOG_PRINT_FN thePrint = &printFromLibrary;
                       ber_set_option(nullptr, LBER_OPT_LOG_PRINT_FN,
                                      reinterpret_cast<const void*>(thePrint));
                   });
#endif
}

void reportLibldapLine(const std::string& inText)
{
    platform::reportLog(platform::Report_warning, "libldap: %s", inText.c_str());
}

LibldapLineCapture::LibldapLineCapture(std::vector<std::string>& outLines) : itsOuter(theCapture)
{
    theCapture = &outLines;
}

LibldapLineCapture::~LibldapLineCapture() { theCapture = itsOuter; }

} // namespace corvel::directory
