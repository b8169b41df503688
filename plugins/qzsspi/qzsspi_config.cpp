// Where the plug-in finds the directory, and the password checks shared by
// the packages.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <nettle/memops.h>
#include <nettle/sha1.h>
#include <nettle/sha2.h>

#include "qzsspi_internal.h"

namespace qzsspi
{

std::string configuredDirectory()
{
    const char* theValue = std::getenv("CORVEL_DIRECTORY");
    if (theValue != nullptr && theValue[0] != '\0')
        return theValue;
    theValue = std::getenv("LDAPURI");
    if (theValue != nullptr && theValue[0] != '\0')
        return theValue;
    return std::string();
}

void clearSecret(std::string& ioText)
{
    if (!ioText.empty())
        explicit_bzero(ioText.data(), ioText.size());
    ioText.clear();
}

namespace
{

bool base64Decode(const std::string& inText, std::string& outBytes)
{
    outBytes.clear();
    unsigned int theBits = 0;
    int theCount = 0;
    std::size_t thePad = 0;
    for (char curChar : inText)
    {
        int theValue;
        if (curChar >= 'A' && curChar <= 'Z')
            theValue = curChar - 'A';
        else if (curChar >= 'a' && curChar <= 'z')
            theValue = curChar - 'a' + 26;
        else if (curChar >= '0' && curChar <= '9')
            theValue = curChar - '0' + 52;
        else if (curChar == '+')
            theValue = 62;
        else if (curChar == '/')
            theValue = 63;
        else if (curChar == '=')
        {
            ++thePad;
            continue;
        }
        else
            return false;
        if (thePad > 0)
            return false; // data after padding
        theBits = (theBits << 6) | static_cast<unsigned int>(theValue);
        theCount += 6;
        if (theCount >= 8)
        {
            theCount -= 8;
            outBytes += static_cast<char>((theBits >> theCount) & 0xFF);
        }
    }
    return thePad <= 2;
}

enum class Digest
{
    Sha1,
    Sha256,
    Sha512,
};

std::string digestOf(Digest inKind, const char* inPassword, const std::string& inSalt)
{
    std::string theOut;
    const std::size_t theLength = std::strlen(inPassword);
    switch (inKind)
    {
    case Digest::Sha1:
    {
        sha1_ctx theCtx;
        sha1_init(&theCtx);
        sha1_update(&theCtx, theLength, reinterpret_cast<const uint8_t*>(inPassword));
        sha1_update(&theCtx, inSalt.size(), reinterpret_cast<const uint8_t*>(inSalt.data()));
        theOut.resize(SHA1_DIGEST_SIZE);
        sha1_digest(&theCtx, SHA1_DIGEST_SIZE, reinterpret_cast<uint8_t*>(theOut.data()));
        explicit_bzero(&theCtx, sizeof theCtx);
        break;
    }
    case Digest::Sha256:
    {
        sha256_ctx theCtx;
        sha256_init(&theCtx);
        sha256_update(&theCtx, theLength, reinterpret_cast<const uint8_t*>(inPassword));
        sha256_update(&theCtx, inSalt.size(), reinterpret_cast<const uint8_t*>(inSalt.data()));
        theOut.resize(SHA256_DIGEST_SIZE);
        sha256_digest(&theCtx, SHA256_DIGEST_SIZE, reinterpret_cast<uint8_t*>(theOut.data()));
        explicit_bzero(&theCtx, sizeof theCtx);
        break;
    }
    case Digest::Sha512:
    {
        sha512_ctx theCtx;
        sha512_init(&theCtx);
        sha512_update(&theCtx, theLength, reinterpret_cast<const uint8_t*>(inPassword));
        sha512_update(&theCtx, inSalt.size(), reinterpret_cast<const uint8_t*>(inSalt.data()));
        theOut.resize(SHA512_DIGEST_SIZE);
        sha512_digest(&theCtx, SHA512_DIGEST_SIZE, reinterpret_cast<uint8_t*>(theOut.data()));
        explicit_bzero(&theCtx, sizeof theCtx);
        break;
    }
    }
    return theOut;
}

bool equalSecret(const std::string& inLeft, const std::string& inRight)
{
    return inLeft.size() == inRight.size() &&
           (inLeft.empty() || memeql_sec(inLeft.data(), inRight.data(), inLeft.size()) != 0);
}

// The same against the caller's text, without a copy of it.
bool equalSecret(const std::string& inStored, const char* inPassword)
{
    const std::size_t theLength = std::strlen(inPassword);
    return inStored.size() == theLength &&
           (theLength == 0 || memeql_sec(inStored.data(), inPassword, theLength) != 0);
}

} // namespace

bool passwordMatches(const std::string& inStored, const char* inPassword)
{
    struct Scheme
    {
        const char* itsName;
        Digest itsDigest;
        std::size_t itsSize;
        bool itsSalted;
    };
    static const Scheme theSchemes[] = {
        {"{SSHA}", Digest::Sha1, SHA1_DIGEST_SIZE, true},
        {"{SHA}", Digest::Sha1, SHA1_DIGEST_SIZE, false},
        {"{SSHA256}", Digest::Sha256, SHA256_DIGEST_SIZE, true},
        {"{SHA256}", Digest::Sha256, SHA256_DIGEST_SIZE, false},
        {"{SSHA512}", Digest::Sha512, SHA512_DIGEST_SIZE, true},
        {"{SHA512}", Digest::Sha512, SHA512_DIGEST_SIZE, false},
    };
    if (inPassword == nullptr)
        return false;
    for (const Scheme& curScheme : theSchemes)
    {
        const std::size_t theNameLength = std::strlen(curScheme.itsName);
        if (inStored.size() < theNameLength ||
            strncasecmp(inStored.c_str(), curScheme.itsName, theNameLength) != 0)
            continue;
        std::string theBytes;
        if (!base64Decode(inStored.substr(theNameLength), theBytes))
            return false;
        if (curScheme.itsSalted ? theBytes.size() <= curScheme.itsSize
                                : theBytes.size() != curScheme.itsSize)
            return false;
        const std::string theSalt = theBytes.substr(curScheme.itsSize);
        const std::string theDigest = digestOf(curScheme.itsDigest, inPassword, theSalt);
        return equalSecret(theDigest, theBytes.substr(0, curScheme.itsSize));
    }
    if (strncasecmp(inStored.c_str(), "{CLEARTEXT}", 11) == 0)
        return equalSecret(inStored.substr(11), inPassword);
    if (!inStored.empty() && inStored[0] == '{')
        return false; // a scheme this plug-in does not know ({CRYPT}, {MD5}...)
    return equalSecret(inStored, inPassword);
}

} // namespace qzsspi
