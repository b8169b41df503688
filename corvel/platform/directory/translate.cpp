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

// A translator created and initialised; a failed step's result otherwise.
Translation openTranslator(DirectoryService& inService, const TranslatorInit& inInit,
                           TranslateSteps& ioSteps, std::unique_ptr<NameTranslator>& outTranslator)
{
    Status theStatus = inService.createNameTranslator(outTranslator);
    if (failed(theStatus) || !outTranslator)
    {
        const Translation theResult = failure(TranslateStep::Create, theStatus);
        ioSteps.failedCreate(theResult.itsStatus);
        return theResult;
    }
    ioSteps.initing();
    theStatus = inInit.hasPassword()
                    ? outTranslator->initEx(inInit.itsKind, inInit.itsPath, inInit.itsUser,
                                            inInit.itsDomain, inInit.itsPassword)
                    : outTranslator->init(inInit.itsKind, inInit.itsPath);
    if (failed(theStatus))
    {
        outTranslator.reset();
        ioSteps.failedInit(theStatus);
        return failure(TranslateStep::Init, theStatus);
    }
    return Translation();
}

Translation setAndGet(NameTranslator& inTranslator, const std::string& inName, NameType inFormat,
                      TranslateSteps& ioSteps)
{
    Status theStatus = inTranslator.set(NameType_Unknown, inName);
    if (failed(theStatus))
    {
        const std::string theRetry = ioSteps.retryName(theStatus);
        if (!theRetry.empty())
            theStatus = inTranslator.set(NameType_Unknown, theRetry);
    }
    if (failed(theStatus))
    {
        ioSteps.failedSet(theStatus);
        return failure(TranslateStep::Set, theStatus);
    }

    Translation theResult;
    theStatus = inTranslator.get(inFormat, theResult.itsResult);
    if (failed(theStatus))
        return failure(TranslateStep::Get, theStatus);
    return theResult;
}

} // namespace

Translation translateName(DirectoryService& inService, const TranslatorInit& inInit,
                          const std::string& inName, NameType inFormat, TranslateSteps* inSteps)
{
    TranslateSteps theNoSteps;
    TranslateSteps& theSteps = inSteps != nullptr ? *inSteps : theNoSteps;
    std::unique_ptr<NameTranslator> theTranslator;
    const Translation theOpened = openTranslator(inService, inInit, theSteps, theTranslator);
    if (!theOpened.succeeded())
        return theOpened;
    return setAndGet(*theTranslator, inName, inFormat, theSteps);
}

std::vector<Translation> translateNames(DirectoryService& inService, const TranslatorInit& inInit,
                                        const std::vector<std::string>& inNames, NameType inFormat,
                                        const std::vector<TranslateSteps*>& inSteps)
{
    TranslateSteps theNoSteps;
    const auto theStepsOf = [&](std::size_t inIndex) -> TranslateSteps&
    {
        return inIndex < inSteps.size() && inSteps[inIndex] != nullptr ? *inSteps[inIndex]
                                                                       : theNoSteps;
    };
    std::unique_ptr<NameTranslator> theTranslator;
    const Translation theOpened = openTranslator(inService, inInit, theStepsOf(0), theTranslator);
    if (!theOpened.succeeded())
        return std::vector<Translation>(inNames.size(), theOpened);
    theTranslator->prepare(inNames);
    std::vector<Translation> theResults;
    for (std::size_t curIndex = 0; curIndex < inNames.size(); ++curIndex)
        theResults.push_back(
            setAndGet(*theTranslator, inNames[curIndex], inFormat, theStepsOf(curIndex)));
    return theResults;
}

} // namespace corvel::directory
