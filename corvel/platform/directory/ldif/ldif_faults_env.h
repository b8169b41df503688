// The LDIF backend's process-wide test hook: fault injections named in the
// environment, so that a whole program (qzAuthTest) can be run against a
// directory that fails where a test wants it to.
//
//   CORVEL_LDIF_FAULTS="OP:TARGET:STATUS;OP:TARGET:STATUS;..."
//
// OP is a FaultOp by its name (CreateTranslator, InitTranslator, SetName,
// GetName, Open, RelativeName, Get, GetEx, IsMember, Members, Groups, Next),
// without regard to case. TARGET is what injectFault takes (a DN, or the name
// passed to set/init; empty matches everything) and may itself hold ':' since
// the status is taken after the last one. STATUS is hex with "0x" or decimal.
// A backslash keeps the character after it in the target, so "\;" does not
// end an entry and DN escapes pass through unchanged.
//
// This is the backend's own test hook, not configuration of the program: it
// only ever makes the LDIF directory fail.
#pragma once

#include <string>
#include <vector>

#include "corvel/platform/directory/ldif/ldif_backend.h"

namespace corvel::directory::ldif
{

struct FaultSpec
{
    FaultOp itsOp;
    std::string itsTarget;
    Status itsStatus;
};

// Parses the text of CORVEL_LDIF_FAULTS. Entries that do not parse are left
// out and named in outErrors; empty entries are ignored.
std::vector<FaultSpec> parseFaultSpecs(const std::string& inText, std::vector<std::string>& outErrors);

// Injects the faults of CORVEL_LDIF_FAULTS, once per process however many
// services are made; an error line in the information log for each entry
// that does not parse.
void applyEnvironmentFaults();

} // namespace corvel::directory::ldif
