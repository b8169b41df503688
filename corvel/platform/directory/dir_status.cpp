#include "corvel/platform/directory/dir_status.h"

namespace corvel::directory
{

namespace
{
struct StatusEntry
{
    Status itsCode;
    const char* itsText;
};

constexpr StatusEntry theStatusTexts[] = {
    {E_accessDenied, "Access is denied."},
    {E_outOfMemory, "Not enough memory to complete the operation."},
    {E_invalidArg, "An argument is not valid."},
    {E_fail, "The operation failed."},
    {E_notImpl, "The operation is not implemented."},
    {E_noInterface, "The object does not support the requested kind."},
    {E_classNotRegistered, "The directory component is not registered."},
    {E_logonFailure, "The user name or password is incorrect."},
    {E_noSuchDomain, "The domain does not exist or cannot be contacted."},
    {E_timeout, "The operation timed out."},
    {E_nameNotFound, "The name was not found in the directory."},
    {E_nameNotUnique, "The name matches more than one object in the directory."},
    {E_nameNoMapping, "The name cannot be given in the form asked for."},
    {E_noSuchObject, "There is no such object in the directory."},
    {E_invalidDNSyntax, "The distinguished name is not valid."},
    {E_operationsError, "The directory reported an operations error."},
    {E_noSuchAttributeValue, "The attribute or value does not exist."},
    {E_referral, "The object is held by another directory partition."},
    {E_serverDown, "The directory server cannot be reached."},
    {E_localError, "A local error occurred while talking to the directory."},
    {E_propertyNotFound, "The object has no value for the attribute."},
    {E_badPathname, "The directory path is not valid."},
};
} // namespace

const char* statusText(Status inStatus)
{
    for (const StatusEntry& curEntry : theStatusTexts)
        if (curEntry.itsCode == inStatus)
            return curEntry.itsText;
    return nullptr;
}

} // namespace corvel::directory
