// Stand-ins for the logon plug-in, built as libqzSSPI.so in one directory
// each. What the authenticator passes is appended to the file named by
// QZ_FAKE_LOGON_LOG; the answer and status word come from
// QZ_FAKE_LOGON_RESULT and QZ_FAKE_LOGON_STATUS.
//   FAKE_NO_SETSSP   no qzSetSSP export
//   FAKE_NO_LOGON    no qzUserLogon export
//   FAKE_THROWS      qzUserLogon throws
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace
{

void record(const char* inWhat, const char* inA, const char* inB, const char* inC)
{
    const char* thePath = std::getenv("QZ_FAKE_LOGON_LOG");
    if (thePath == nullptr)
        return;
    if (std::FILE* theFile = std::fopen(thePath, "a"))
    {
        std::fprintf(theFile, "%s|%s|%s|%s\n", inWhat, inA ? inA : "(null)", inB ? inB : "(null)",
                     inC ? inC : "(null)");
        std::fclose(theFile);
    }
}

[[maybe_unused]] int envNumber(const char* inName)
{
    const char* theValue = std::getenv(inName);
    return theValue ? static_cast<int>(std::strtol(theValue, nullptr, 0)) : 0;
}

} // namespace

#ifndef FAKE_NO_SETSSP
extern "C" __attribute__((visibility("default"))) int qzSetSSP(const char* inPackage)
{
    record("setssp", inPackage, "", "");
    return 0;
}
#endif

#ifndef FAKE_NO_LOGON
extern "C" __attribute__((visibility("default"))) int qzUserLogon(const char* inDomain,
                                                                  const char* inUser,
                                                                  const char* inPassword,
                                                                  unsigned int* outStatus)
{
    record("logon", inDomain, inUser, inPassword);
#ifdef FAKE_THROWS
    *outStatus = 77;
    throw std::runtime_error("plug-in failure");
#else
    if (*outStatus != 0)
        record("status-not-preset", "", "", "");
    *outStatus = static_cast<unsigned int>(envNumber("QZ_FAKE_LOGON_STATUS"));
    return envNumber("QZ_FAKE_LOGON_RESULT");
#endif
}
#endif
