// Fault injection for tests: a directory service that passes every call to
// the real one, except the calls a test has chosen to fail with a chosen
// status. It wraps any backend, and is built only into test programs and the
// test build of qzAuthTest: the shipping library carries no fault code.
//
// A fault names an operation and a target: the DN of the object the
// operation is applied to (compared in normal form), or for the translator
// operations the name passed to init or set (compared without case); an
// empty target matches every object. Faults are process-wide.
//
// Every session of a program that links this gets the wrapping service;
// faults come from injectFault, or at start-up from the environment:
//
//   CORVEL_DIRECTORY_FAULTS="OP:TARGET:STATUS;OP:TARGET:STATUS;..."
//
// OP is a FaultOp by its name, without regard to case; TARGET may itself hold
// ':' since the status is taken after the last one; STATUS is hex with "0x"
// or decimal. A backslash keeps the character after it in the target, so
// "\;" does not end an entry and DN escapes pass through unchanged.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "corvel/platform/directory/dir_service.h"

namespace corvel::directory::faults
{

enum class FaultOp
{
    CreateTranslator,
    InitTranslator,
    SetName,
    GetName,      // translator get: matches the name set or the DN it resolved to
    Open,         // openObject
    RelativeName, // DirObject::getName
    Get,          // DirObject::get
    GetEx,        // DirObject::getEx
    IsMember,
    Members,
    Groups,
    Next,         // an enumerator's next, for the enumeration of the target
    PrimaryGroup, // DirUser::primaryGroup
};

void injectFault(FaultOp inOp, const std::string& inTarget, Status inStatus);
void clearFaults();

// inService with the fault table applied to every call.
std::shared_ptr<DirectoryService> wrap(std::shared_ptr<DirectoryService> inService);

struct FaultSpec
{
    FaultOp itsOp;
    std::string itsTarget;
    Status itsStatus;
};

// Parses the text of CORVEL_DIRECTORY_FAULTS. Entries that do not parse are
// left out and named in outErrors; empty entries are ignored.
std::vector<FaultSpec> parseFaultSpecs(const std::string& inText,
                                       std::vector<std::string>& outErrors);

} // namespace corvel::directory::faults
