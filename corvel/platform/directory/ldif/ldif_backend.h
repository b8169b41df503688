// The in-memory directory loaded from an LDIF file, in the form Active
// Directory exports it (ldapsearch or ldifde output).
#pragma once

#include <memory>
#include <string>

#include "corvel/platform/directory/dir_service.h"

namespace corvel::directory::ldif
{

std::shared_ptr<DirectoryService> makeLdifService(const std::string& inPath);

} // namespace corvel::directory::ldif

namespace corvel::directory::ldif
{

// Fault injection for tests: the chosen operation on the chosen object fails
// with the chosen status. inTarget is the DN of the object the operation is
// applied to (compared case-insensitively), or for the translator operations
// the name passed to set/init; an empty target matches every object.
enum class FaultOp
{
    CreateTranslator,
    InitTranslator,
    SetName,
    GetName,  // translator get
    Open,     // openObject
    RelativeName, // DirObject::getName
    Get,      // DirObject::get
    GetEx,    // DirObject::getEx (memberOf)
    IsMember,
    Members,
    Groups,
    Next,     // an enumerator's next, for the enumeration of the target group/user
    PrimaryGroup, // DirUser::primaryGroup
};

void injectFault(FaultOp inOp, const std::string& inTarget, Status inStatus);
void clearFaults();

} // namespace corvel::directory::ldif
