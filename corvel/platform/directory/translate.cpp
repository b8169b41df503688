#include "corvel/platform/directory/translate.h"

#include <memory>

namespace corvel::directory
{

namespace
{

Translation failure(TranslateStep inStep, Status inStatus)
{
    Translation theResult;
    theResult.itsFailedStep = inStep;
    theResult.itsStatus = failed(inStatus) ? inStatus : E_fail;
    return theResult;
}

} // namespace

Translation translateName(DirectoryService& inService, const TranslatorInit& inInit,
                          const std::string& inName, NameType inFormat, TranslateSteps* inSteps)
{
    TranslateSteps theNoSteps;
    TranslateSteps& theSteps = inSteps != nullptr ? *inSteps : theNoSteps;

    std::unique_ptr<NameTranslator> theTranslator;
    Status theStatus = inService.createNameTranslator(theTranslator);
    if (failed(theStatus) || !theTranslator)
    {
        const Translation theResult = failure(TranslateStep::Create, theStatus);
        theSteps.failedCreate(theResult.itsStatus);
        return theResult;
    }

    theSteps.initing();
    theStatus = inInit.hasPassword()
                    ? theTranslator->initEx(inInit.itsKind, inInit.itsPath, inInit.itsUser,
                                            inInit.itsDomain, inInit.itsPassword)
                    : theTranslator->init(inInit.itsKind, inInit.itsPath);
    if (failed(theStatus))
    {
        theTranslator.reset();
        theSteps.failedInit(theStatus);
        return failure(TranslateStep::Init, theStatus);
    }

    theStatus = theTranslator->set(NameType_Unknown, inName);
    if (failed(theStatus))
    {
        const std::string theRetry = theSteps.retryName(theStatus);
        if (!theRetry.empty())
            theStatus = theTranslator->set(NameType_Unknown, theRetry);
    }
    if (failed(theStatus))
    {
        theSteps.failedSet(theStatus);
        return failure(TranslateStep::Set, theStatus);
    }

    Translation theResult;
    theStatus = theTranslator->get(inFormat, theResult.itsResult);
    if (failed(theStatus))
        return failure(TranslateStep::Get, theStatus);
    return theResult;
}

} // namespace corvel::directory
