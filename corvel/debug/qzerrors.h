// The framework's error codes and the operating system's error texts.
//
// qzErr is a 16-bit code: the high byte names a group, the low byte numbers
// the codes of that group. Gaps in the numbering are intended.
#pragma once

#include <cstdint>
#include <string>

enum qzErr : std::uint16_t
{
    qzErr_noError = 0x0000,

    qzErr_userCancelled = 0x0101,
    qzErr_timeout = 0x0102,
    qzErr_memFull = 0x0103,
    qzErr_resFull = 0x0104,
    qzErr_internal = 0x0105,
    qzErr_startupFailed = 0x0106,
    qzErr_osError = 0x0107,
    qzErr_critical = 0x0108,

    qzErr_noData = 0x0201,
    qzErr_disconnect = 0x0202,
    qzErr_noConnect = 0x0203,
    qzErr_netMiscErr = 0x0204,
    qzErr_noSupport = 0x0205,
    qzErr_resolveFailed = 0x0206,

    qzErr_noRemoteObject = 0x0301,
    qzErr_noAuthority = 0x0302,
    qzErr_reqNotSupported = 0x0303,
    qzErr_unexpectedData = 0x0304,
    qzErr_handlerNotRunning = 0x0305,
    qzErr_objectNotRegistered = 0x0306,

    qzErr_accessInvalidPassword = 0x0401,
    qzErr_accessNoPasswordDefined = 0x0402,
    qzErr_accessNotAllowed = 0x0404,
    qzErr_accessAlreadyConnected = 0x0405,
    qzErr_accessTooManyConnections = 0x0406,

    qzErr_serverInfoFailed = 0x0501,

    qzErr_fileNotFound = 0x0601,
    qzErr_fileOpen = 0x0602,
    qzErr_fileWrite = 0x0605,
    qzErr_fileDelete = 0x0606,
    qzErr_fileRename = 0x0607,

    qzErr_parserFailed = 0x0701,
    qzErr_parserUnterminatedComment = 0x0702,
    qzErr_parserUnexpectedToken = 0x0703,
    qzErr_parserExpectedEndOfLine = 0x0710,
    qzErr_parserExpectedName = 0x0711,
    qzErr_parserExpectedInteger = 0x0712,
    qzErr_parserExpectedValue = 0x0713,
    qzErr_parserIncorrectFormat = 0x0714,
    qzErr_parserInvalidRange = 0x0715,
    qzErr_parserIncorrectTTLFormat = 0x0720,
    qzErr_parserIncorrectRRFormat = 0x0721,
    qzErr_parserUnknownRRType = 0x0722,
    qzErr_parserGenerateNotSupported = 0x0723,
    qzErr_parserIncludeNotSupported = 0x0724,
    qzErr_parserUnsupportedClass = 0x0725,
    qzErr_parserTooManySOARecords = 0x0726,
    qzErr_parserMissingSOARecord = 0x0727,

    qzErr_invalidEntry = 0x0801,

    qzErr_unexpectedDNSData = 0x0901,
    qzErr_truncatedAnswer = 0x0902,
    qzErr_badQueryFormat = 0x0903,
    qzErr_serverFailure = 0x0904,
    qzErr_NXDomain = 0x0905,
    qzErr_notImplemented = 0x0906,
    qzErr_serverRefused = 0x0907,

    qzErr_unknown = 0xFFFF
};

// The enumerator name of a named code ("qzErr_timeout"), else the value as
// "0x%02X" ("0x403"). The fallback text lives in a per-thread buffer and
// stays valid until this thread's next fallback call.
const char* getErrorName(std::uint16_t inCode);

// The calling thread's last operating-system error.
std::uint32_t getLastOSError();

// The system's message text for an error code, without trailing line breaks;
// the empty string when the system has none.
std::string getOSErrorText(std::uint32_t inCode);
