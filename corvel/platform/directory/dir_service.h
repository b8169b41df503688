// The directory service: the one interface through which the authenticator
// talks to a directory, whatever stands behind it (an LDIF file, a live
// directory over LDAP, or the Windows directory interfaces over COM).
//
// Its shape follows the directory operations the authenticator needs, not
// any one backend: a name translator; objects opened by LDAP path with
// optional credentials, as a plain object, a group or a user; member and
// group enumerations in directory order. Every operation returns a Status
// (dir_status.h), so log lines print the same codes on every platform.
//
// A Session brackets one top-level operation on the calling thread (what the
// component runtime's initialisation brackets on Windows): connections opened
// inside it are reused inside it and closed at its end. Objects obtained in a
// session must be released before the session ends.
//
// Text is narrow (UTF-8 on Linux, the ANSI code page on Windows); backends
// convert at their own boundary.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "corvel/platform/directory/dir_status.h"

namespace corvel::directory
{

// Name formats of the translator (the values of ADS_NAME_TYPE_*).
enum NameType : int
{
    NameType_1779 = 1, // distinguished name
    NameType_Canonical = 2,
    NameType_NT4 = 3, // DOMAIN\name
    NameType_Display = 4,
    NameType_GUID = 7,
    NameType_Unknown = 8, // let the translator guess the input format
    NameType_UserPrincipalName = 9,
    NameType_SIDOrSIDHistory = 12,
    NameType_ServicePrincipalName = 10,
};

// Initialisation kinds of the translator (ADS_NAME_INITTYPE_*).
enum InitType : int
{
    InitType_Domain = 1, // a named domain (DNS or NetBIOS name) as path
    InitType_Server = 2,
    InitType_GC = 3, // the global catalog, empty path
};

// Explicit credentials for opening objects. Both empty: the caller's own
// security context (Kerberos ticket on Linux, the thread's token on Windows).
struct Credentials
{
    std::string itsUser;
    std::string itsPassword;
    bool isEmpty() const { return itsUser.empty() || itsPassword.empty(); }
};

class NameTranslator
{
public:
    virtual ~NameTranslator() = default;
    virtual Status init(InitType inKind, const std::string& inPath) = 0;
    virtual Status initEx(InitType inKind, const std::string& inPath, const std::string& inUser,
                          const std::string& inDomain, const std::string& inPassword) = 0;
    // With NameType_Unknown the translator recognises the input format itself.
    virtual Status set(NameType inType, const std::string& inName) = 0;
    virtual Status get(NameType inType, std::string& outName) = 0;
    // The names about to be set (of unknown format), after init: a
    // translator may ask the directory for all of them at once, so that the
    // sets that follow cost no round trip each. Only a hint: the answers are
    // the sets' own.
    virtual void prepare(const std::vector<std::string>& /*inNames*/) {}
};

class DirGroup;
class DirUser;
class DirEnumerator;

// Any directory object (IADs).
class DirObject
{
public:
    virtual ~DirObject() = default;
    // The relative name, for example "CN=Sales".
    virtual Status getName(std::string& outName) = 0;
    // A single-valued attribute, for example "name".
    virtual Status get(const std::string& inAttribute, std::string& outValue) = 0;
    // A multi-valued attribute, for example "memberOf", in directory order;
    // E_propertyNotFound when the object has no value for it.
    virtual Status getEx(const std::string& inAttribute, std::vector<std::string>& outValues) = 0;
    // The object as a group or a user; null (E_noInterface) when it is not
    // one. The returned pointer is owned by this object.
    virtual DirGroup* asGroup() = 0;
    virtual DirUser* asUser() = 0;
};

class DirGroup : public virtual DirObject
{
public:
    // Whether the object at inPath ("LDAP://" + escaped DN) is a direct
    // member, as Active Directory defines it: the group's member attribute
    // names it, or the group is its primary group (the object's
    // primaryGroupID is the group's RID in the object's own domain; see
    // names.h). The directory keeps the second kind out of the member
    // attribute, and so do the platform's own is-member interfaces.
    virtual Status isMember(const std::string& inPath, bool& outIsMember) = 0;
    // The members, in directory order.
    virtual Status members(std::unique_ptr<DirEnumerator>& outMembers) = 0;
};

class DirUser : public virtual DirObject
{
public:
    // The groups whose member attribute names the user (its memberOf), in
    // directory order; the primary group is not among them.
    virtual Status groups(std::unique_ptr<DirEnumerator>& outGroups) = 0;
    // The DN of the user's primary group. S_false with outGroupDN empty when
    // the user has no primary group or the directory holds no group with
    // its SID; a failure code when the directory cannot be asked.
    virtual Status primaryGroup(std::string& outGroupDN) = 0;
};

// One element at a time: S_ok with an element, S_false at the end, or a
// failure code.
class DirEnumerator
{
public:
    virtual ~DirEnumerator() = default;
    virtual Status next(std::unique_ptr<DirObject>& outObject) = 0;
};

// One object to read with DirectoryService::readObjects, and what came of
// it.
struct ObjectRead
{
    // A DN, or "<SID=S-1-5-...>" for the object with that SID.
    std::string itsDN;
    std::vector<std::string> itsAttributes;

    // S_ok, E_noSuchObject when the directory holds no such object for us
    // (absent, elsewhere, hidden), or another failure.
    Status itsStatus = E_fail;
    std::string itsFoundDN; // the object's own DN
    // The values of the attributes asked for, by ASCII lower-case name; an
    // attribute without values is absent. SIDs come as the backend gives
    // them (binary, or text: names::sidOfValue reads both).
    std::map<std::string, std::vector<std::string>> itsValues;

    const std::vector<std::string>& values(const std::string& inLowerName) const;
};

enum class ObjectKind
{
    Object, // IADs
    Group,  // IADsGroup: fails with E_noInterface when the object is no group
    User,   // IADsUser
};

// One backend's view of the directory for the calling thread.
class DirectoryService
{
public:
    virtual ~DirectoryService() = default;
    virtual Status createNameTranslator(std::unique_ptr<NameTranslator>& outTranslator) = 0;
    // inPath is "LDAP://" followed by a DN whose '/' are written "\2f"
    // (optionally "LDAP://server/DN"). inCredentials null or empty: the
    // caller's own security context.
    virtual Status openObject(const std::string& inPath, const Credentials* inCredentials,
                              ObjectKind inKind, std::unique_ptr<DirObject>& outObject) = 0;
    // Reads the attributes of many objects (with the caller's own security
    // context), in as few round trips as the directory allows: a live
    // directory sends every read at once. Each read says how it went; the
    // status is a failure only when the directory could not be asked at
    // all. The default opens each object and reads its attributes.
    virtual Status readObjects(std::vector<ObjectRead>& ioReads);
};

// Opens the object with the DN inDN: the path is dn::ldapPath(inDN).
Status openByDN(DirectoryService& inService, const std::string& inDN,
                const Credentials* inCredentials, ObjectKind inKind,
                std::unique_ptr<DirObject>& outObject);

// Brackets one top-level operation on the calling thread. Sessions nest: an
// inner session on the same thread shares the outer one's service.
class Session
{
public:
    // The service of the session around this one on this thread; without
    // one, the service openDirectoryService() chooses.
    Session();
    // The given service, for this session and every session opened inside
    // it on this thread: a program or a test hands the directory in.
    explicit Session(std::shared_ptr<DirectoryService> inService);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    DirectoryService& service();

private:
    std::shared_ptr<DirectoryService> itsService;
    // A handed-in service replaces the thread's for its lifetime.
    bool itsHandedIn = false;
    std::shared_ptr<DirectoryService> itsOuter;
    int itsOuterDepth = 0;
};

// Which directory this process talks to, as the platform's own clients find
// it. On Linux: the variable CORVEL_DIRECTORY ("ldif:PATH", "ldap://host[:port]"
// or "ldaps://host[:port]"), else the OpenLDAP client configuration (LDAPURI,
// ldap.conf). With none configured the service still exists, and initialising
// a translator fails with E_noSuchDomain, as on a machine in no domain.
std::shared_ptr<DirectoryService> openDirectoryService();

// The directory openDirectoryService would use, as configured: "ldif:PATH",
// one or more "ldap://" / "ldaps://" URIs separated by blanks, or empty when
// nothing is configured. Reads the environment and the client configuration
// files; opens nothing.
std::string configuredDirectory();

} // namespace corvel::directory
