// Resolving a name: a translator created, initialised (on the global
// catalog, or on a named domain with or without credentials), given a name
// of any format and asked for it in another. Every lookup of the system
// makes this one sequence; what a failure means to the caller (its log and
// trace lines, one more name to try) it says through TranslateSteps.
#pragma once

#include <string>
#include <vector>

#include "corvel/platform/directory/dir_service.h"

namespace corvel::directory
{

enum class TranslateStep
{
    None,
    Create,
    Init,
    Set,
    Get,
};

// How the translator is initialised: init(itsKind, itsPath), or with a
// password initEx(itsKind, itsPath, itsUser, itsDomain, itsPassword).
struct TranslatorInit
{
    InitType itsKind = InitType_GC;
    std::string itsPath; // empty on the global catalog
    std::string itsUser;
    std::string itsDomain;
    std::string itsPassword;

    static TranslatorInit globalCatalog() { return {}; }
    bool hasPassword() const { return !itsPassword.empty(); }
};

// What the caller does at each step. Every hook is optional.
class TranslateSteps
{
public:
    virtual ~TranslateSteps() = default;
    virtual void failedCreate(Status /*inStatus*/) {}
    // Just before the translator is initialised.
    virtual void initing() {}
    virtual void failedInit(Status /*inStatus*/) {}
    // After the name could not be set: another name to set on the same
    // translator, or empty for none. Its status replaces the first one's.
    virtual std::string retryName(Status /*inStatus*/) { return {}; }
    // The name (and the retry, if any) could not be set.
    virtual void failedSet(Status /*inStatus*/) {}
};

struct Translation
{
    Status itsStatus = S_ok; // the failed step's status, else S_ok
    TranslateStep itsFailedStep = TranslateStep::None;
    std::string itsResult; // the name in the format asked for
    bool succeeded() const { return itsFailedStep == TranslateStep::None; }
};

// inName (any format the translator recognises) in inFormat. The translator
// is released before this returns. Exceptions (of allocation) pass.
Translation translateName(DirectoryService& inService, const TranslatorInit& inInit,
                          const std::string& inName, NameType inFormat,
                          TranslateSteps* inSteps = nullptr);

// Several names on one translator, told to it together first
// (NameTranslator::prepare), so that a live directory answers all their
// first searches in one round trip; then each set and got in turn, with
// inSteps[i] (when given) for the i-th name. A failure to create or
// initialise the translator is every name's.
std::vector<Translation> translateNames(DirectoryService& inService, const TranslatorInit& inInit,
                                        const std::vector<std::string>& inNames, NameType inFormat,
                                        const std::vector<TranslateSteps*>& inSteps = {});

} // namespace corvel::directory
