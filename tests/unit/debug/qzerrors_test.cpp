#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "corvel/debug/qzerrors.h"

TEST(ErrorNames, EveryNamedCodeMapsToItsEnumerator)
{
    const std::pair<std::uint16_t, const char*> theNames[] = {
        {0x0000, "qzErr_noError"},
        {0x0101, "qzErr_userCancelled"},
        {0x0102, "qzErr_timeout"},
        {0x0103, "qzErr_memFull"},
        {0x0104, "qzErr_resFull"},
        {0x0105, "qzErr_internal"},
        {0x0106, "qzErr_startupFailed"},
        {0x0107, "qzErr_osError"},
        {0x0108, "qzErr_critical"},
        {0x0201, "qzErr_noData"},
        {0x0202, "qzErr_disconnect"},
        {0x0203, "qzErr_noConnect"},
        {0x0204, "qzErr_netMiscErr"},
        {0x0205, "qzErr_noSupport"},
        {0x0206, "qzErr_resolveFailed"},
        {0x0301, "qzErr_noRemoteObject"},
        {0x0302, "qzErr_noAuthority"},
        {0x0303, "qzErr_reqNotSupported"},
        {0x0304, "qzErr_unexpectedData"},
        {0x0305, "qzErr_handlerNotRunning"},
        {0x0306, "qzErr_objectNotRegistered"},
        {0x0401, "qzErr_accessInvalidPassword"},
        {0x0402, "qzErr_accessNoPasswordDefined"},
        {0x0404, "qzErr_accessNotAllowed"},
        {0x0405, "qzErr_accessAlreadyConnected"},
        {0x0406, "qzErr_accessTooManyConnections"},
        {0x0501, "qzErr_serverInfoFailed"},
        {0x0601, "qzErr_fileNotFound"},
        {0x0602, "qzErr_fileOpen"},
        {0x0605, "qzErr_fileWrite"},
        {0x0606, "qzErr_fileDelete"},
        {0x0607, "qzErr_fileRename"},
        {0x0701, "qzErr_parserFailed"},
        {0x0702, "qzErr_parserUnterminatedComment"},
        {0x0703, "qzErr_parserUnexpectedToken"},
        {0x0710, "qzErr_parserExpectedEndOfLine"},
        {0x0711, "qzErr_parserExpectedName"},
        {0x0712, "qzErr_parserExpectedInteger"},
        {0x0713, "qzErr_parserExpectedValue"},
        {0x0714, "qzErr_parserIncorrectFormat"},
        {0x0715, "qzErr_parserInvalidRange"},
        {0x0720, "qzErr_parserIncorrectTTLFormat"},
        {0x0721, "qzErr_parserIncorrectRRFormat"},
        {0x0722, "qzErr_parserUnknownRRType"},
        {0x0723, "qzErr_parserGenerateNotSupported"},
        {0x0724, "qzErr_parserIncludeNotSupported"},
        {0x0725, "qzErr_parserUnsupportedClass"},
        {0x0726, "qzErr_parserTooManySOARecords"},
        {0x0727, "qzErr_parserMissingSOARecord"},
        {0x0801, "qzErr_invalidEntry"},
        {0x0901, "qzErr_unexpectedDNSData"},
        {0x0902, "qzErr_truncatedAnswer"},
        {0x0903, "qzErr_badQueryFormat"},
        {0x0904, "qzErr_serverFailure"},
        {0x0905, "qzErr_NXDomain"},
        {0x0906, "qzErr_notImplemented"},
        {0x0907, "qzErr_serverRefused"},
        {0xFFFF, "qzErr_unknown"},
    };
    EXPECT_EQ(std::size(theNames), 58u);
    for (const auto& [curCode, curName] : theNames)
        EXPECT_STREQ(getErrorName(curCode), curName) << std::hex << curCode;
    EXPECT_EQ(static_cast<std::uint16_t>(qzErr_unknown), 0xFFFF);
    EXPECT_EQ(sizeof(qzErr), 2u);
}

TEST(ErrorNames, GapsAndOtherValuesPrintInHexadecimal)
{
    EXPECT_STREQ(getErrorName(0x0403), "0x403");
    EXPECT_STREQ(getErrorName(0x0100), "0x100");
    EXPECT_STREQ(getErrorName(0x0007), "0x07");
    EXPECT_STREQ(getErrorName(0x1234), "0x1234");
    EXPECT_STREQ(getErrorName(0x0704), "0x704");
    EXPECT_STREQ(getErrorName(0xABCD), "0xABCD");
}

TEST(ErrorNames, FallbackTextIsKeptPerThread)
{
    const char* theMine = getErrorName(0x0403);
    std::string theOther;
    std::thread([&] { theOther = getErrorName(0x0604); }).join();
    EXPECT_STREQ(theMine, "0x403");
    EXPECT_EQ(theOther, "0x604");
}
