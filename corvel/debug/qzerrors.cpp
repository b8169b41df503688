#include "corvel/debug/qzerrors.h"

#include <cstdio>

#include "corvel/platform/os_errors.h"

namespace
{
struct ErrorName
{
    std::uint16_t itsCode;
    const char* itsName;
};

#define QZ_ERR_NAME(e)                                                                             \
    {                                                                                              \
        e, #e                                                                                      \
    }
constexpr ErrorName theErrorNames[] = {
    QZ_ERR_NAME(qzErr_noError),
    QZ_ERR_NAME(qzErr_userCancelled),
    QZ_ERR_NAME(qzErr_timeout),
    QZ_ERR_NAME(qzErr_memFull),
    QZ_ERR_NAME(qzErr_resFull),
    QZ_ERR_NAME(qzErr_internal),
    QZ_ERR_NAME(qzErr_startupFailed),
    QZ_ERR_NAME(qzErr_osError),
    QZ_ERR_NAME(qzErr_critical),
    QZ_ERR_NAME(qzErr_noData),
    QZ_ERR_NAME(qzErr_disconnect),
    QZ_ERR_NAME(qzErr_noConnect),
    QZ_ERR_NAME(qzErr_netMiscErr),
    QZ_ERR_NAME(qzErr_noSupport),
    QZ_ERR_NAME(qzErr_resolveFailed),
    QZ_ERR_NAME(qzErr_noRemoteObject),
    QZ_ERR_NAME(qzErr_noAuthority),
    QZ_ERR_NAME(qzErr_reqNotSupported),
    QZ_ERR_NAME(qzErr_unexpectedData),
    QZ_ERR_NAME(qzErr_handlerNotRunning),
    QZ_ERR_NAME(qzErr_objectNotRegistered),
    QZ_ERR_NAME(qzErr_accessInvalidPassword),
    QZ_ERR_NAME(qzErr_accessNoPasswordDefined),
    QZ_ERR_NAME(qzErr_accessNotAllowed),
    QZ_ERR_NAME(qzErr_accessAlreadyConnected),
    QZ_ERR_NAME(qzErr_accessTooManyConnections),
    QZ_ERR_NAME(qzErr_serverInfoFailed),
    QZ_ERR_NAME(qzErr_fileNotFound),
    QZ_ERR_NAME(qzErr_fileOpen),
    QZ_ERR_NAME(qzErr_fileWrite),
    QZ_ERR_NAME(qzErr_fileDelete),
    QZ_ERR_NAME(qzErr_fileRename),
    QZ_ERR_NAME(qzErr_parserFailed),
    QZ_ERR_NAME(qzErr_parserUnterminatedComment),
    QZ_ERR_NAME(qzErr_parserUnexpectedToken),
    QZ_ERR_NAME(qzErr_parserExpectedEndOfLine),
    QZ_ERR_NAME(qzErr_parserExpectedName),
    QZ_ERR_NAME(qzErr_parserExpectedInteger),
    QZ_ERR_NAME(qzErr_parserExpectedValue),
    QZ_ERR_NAME(qzErr_parserIncorrectFormat),
    QZ_ERR_NAME(qzErr_parserInvalidRange),
    QZ_ERR_NAME(qzErr_parserIncorrectTTLFormat),
    QZ_ERR_NAME(qzErr_parserIncorrectRRFormat),
    QZ_ERR_NAME(qzErr_parserUnknownRRType),
    QZ_ERR_NAME(qzErr_parserGenerateNotSupported),
    QZ_ERR_NAME(qzErr_parserIncludeNotSupported),
    QZ_ERR_NAME(qzErr_parserUnsupportedClass),
    QZ_ERR_NAME(qzErr_parserTooManySOARecords),
    QZ_ERR_NAME(qzErr_parserMissingSOARecord),
    QZ_ERR_NAME(qzErr_invalidEntry),
    QZ_ERR_NAME(qzErr_unexpectedDNSData),
    QZ_ERR_NAME(qzErr_truncatedAnswer),
    QZ_ERR_NAME(qzErr_badQueryFormat),
    QZ_ERR_NAME(qzErr_serverFailure),
    QZ_ERR_NAME(qzErr_NXDomain),
    QZ_ERR_NAME(qzErr_notImplemented),
    QZ_ERR_NAME(qzErr_serverRefused),
    QZ_ERR_NAME(qzErr_unknown),
};
#undef QZ_ERR_NAME
} // namespace

const char* getErrorName(std::uint16_t inCode)
{
    for (const ErrorName& curName : theErrorNames)
        if (curName.itsCode == inCode)
            return curName.itsName;
    // Kept per thread so that concurrent callers each get their own text.
    thread_local char theFallback[8];
    std::snprintf(theFallback, sizeof theFallback, "0x%02X", static_cast<unsigned>(inCode));
    return theFallback;
}

std::uint32_t getLastOSError() { return corvel::platform::lastError(); }

std::string getOSErrorText(std::uint32_t inCode)
{
    std::string theText = corvel::platform::errorText(inCode);
    // The system's buffer holds 512 characters; a longer text is none at all.
    if (theText.size() >= 512)
        return std::string();
    std::size_t theLength = theText.size();
    while (theLength > 0 && (theText[theLength - 1] == '\n' || theText[theLength - 1] == '\r'))
        --theLength;
    theText.resize(theLength);
    return theText;
}
