// qzSSPI: the logon plug-in. Two C exports, loaded at run time by the
// authenticator under its Windows name "qzSSPI.dll" (libqzSSPI.so here).
//
//   qzSetSSP(package)  chooses the security package for this load:
//                      "Kerberos" (the default; "Negotiate" is the same),
//                      "LDAP" or "LDIF", in any case. An unknown name is
//                      remembered as such, and the logon then fails (11)
//                      rather than quietly use another package. Returns 0
//                      for a known package, -1 otherwise.
//   qzUserLogon(domain, user, password, status)
//                      0 accepted, 9 unknown user or wrong password, 10 the
//                      account may not log on now (disabled, locked out,
//                      password expired), 11 the service failed; *status
//                      carries the underlying library's code.
#include <atomic>
#include <cstring>
#include <string>
#include <strings.h>

#include "qzsspi_internal.h"

namespace
{

enum Package : int
{
    packageKerberos,
    packageLdap,
    packageLdif,
    packageUnknown,
};

// Chosen per load: a fresh load starts with the default again.
std::atomic<int> thePackage{packageKerberos};

} // namespace

extern "C" __attribute__((visibility("default"))) int qzSetSSP(const char* inPackage)
{
    if (inPackage == nullptr)
    {
        thePackage.store(packageUnknown, std::memory_order_relaxed);
        return -1;
    }
    int theChoice = packageUnknown;
    if (strcasecmp(inPackage, "Kerberos") == 0 || strcasecmp(inPackage, "Negotiate") == 0)
        theChoice = packageKerberos;
    else if (strcasecmp(inPackage, "LDAP") == 0)
        theChoice = packageLdap;
    else if (strcasecmp(inPackage, "LDIF") == 0)
        theChoice = packageLdif;
    thePackage.store(theChoice, std::memory_order_relaxed);
    return theChoice == packageUnknown ? -1 : 0;
}

extern "C" __attribute__((visibility("default"))) int qzUserLogon(const char* inDomain,
                                                                  const char* inUser,
                                                                  const char* inPassword,
                                                                  unsigned int* outStatus)
{
    unsigned int theStatus = 0;
    int theResult = qzsspi::resultServiceFailure;
    try
    {
        const std::string theDomain = inDomain ? inDomain : "";
        const std::string theUser = inUser ? inUser : "";
        // An empty password proves nothing: a simple bind with one is an
        // anonymous bind that "succeeds".
        if (theUser.empty() || inPassword == nullptr || inPassword[0] == '\0')
            theResult = qzsspi::resultBadUserOrPassword;
        else
        {
            switch (thePackage.load(std::memory_order_relaxed))
            {
            case packageKerberos:
                theResult = qzsspi::verifyKerberos(theDomain, theUser, inPassword, theStatus);
                break;
            case packageLdap:
                theResult = qzsspi::verifyLdap(theDomain, theUser, inPassword, theStatus);
                break;
            case packageLdif:
                theResult = qzsspi::verifyLdif(theDomain, theUser, inPassword, theStatus);
                break;
            default:
                theResult = qzsspi::resultServiceFailure;
                break;
            }
        }
    }
    catch (...)
    {
        theResult = qzsspi::resultServiceFailure;
    }
    if (outStatus != nullptr)
        *outStatus = theStatus;
    return theResult;
}
