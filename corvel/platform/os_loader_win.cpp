// Plug-in loading over LoadLibraryExA. The search is limited to the program's
// directory and System32: never the current directory or PATH, since the
// plug-in may see passwords (DLL planting).
#include "corvel/platform/os_loader.h"

#include <windows.h>

#include "corvel/platform/os_report.h"
#include "corvel/platform/os_errors.h"
#include "corvel/platform/os_process.h"

namespace corvel::platform
{

namespace
{

std::string& pluginDirectoryOverride()
{
    static std::string theDirectory;
    return theDirectory;
}

bool isRegularFile(const std::string& inPath)
{
    const DWORD theAttributes = GetFileAttributesA(inPath.c_str());
    return theAttributes != INVALID_FILE_ATTRIBUTES &&
           (theAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool isAbsolute(const std::string& inPath)
{
    // "C:\..." or a UNC path "\\server\...".
    return (inPath.size() >= 3 && inPath[1] == ':' && (inPath[2] == '\\' || inPath[2] == '/')) ||
           (inPath.size() >= 2 && inPath[0] == '\\' && inPath[1] == '\\');
}

std::string systemText(DWORD inCode)
{
    std::string theText = errorText(inCode);
    while (!theText.empty() && (theText.back() == '\n' || theText.back() == '\r'))
        theText.pop_back();
    return theText.empty() ? "error " + std::to_string(inCode) : theText;
}

} // namespace

std::string pluginFileName(const std::string& inWindowsName)
{
    if (inWindowsName.empty() || inWindowsName.find_first_of("/\\:") != std::string::npos ||
        inWindowsName == "." || inWindowsName == "..")
        return std::string();
    // Here the Windows name is the file name itself.
    return inWindowsName;
}

void setPluginDirectory(const std::string& inAbsoluteDirectory)
{
    pluginDirectoryOverride() = inAbsoluteDirectory;
}

std::string pluginDirectory()
{
    if (!pluginDirectoryOverride().empty())
        return pluginDirectoryOverride();
    std::string theProgram;
    if (!programFilePath(theProgram))
        return std::string();
    const std::size_t theSlash = theProgram.find_last_of("\\/");
    if (theSlash == std::string::npos)
        return std::string();
    return theProgram.substr(0, theSlash);
}

LoadedLibrary::~LoadedLibrary() { unload(); }

bool LoadedLibrary::load(const std::string& inWindowsName)
{
    unload();
    const std::string theFile = pluginFileName(inWindowsName);
    if (theFile.empty())
    {
        reportLog(Report_debug, "loader: refusing plug-in name \"%s\"", inWindowsName.c_str());
        itsLastError = LoaderError_invalidName;
        return false;
    }

    HMODULE theModule = nullptr;
    const std::string theDirectory = pluginDirectory();
    std::string theCandidate;
    if (isAbsolute(theDirectory))
    {
        const char theLast = theDirectory.back();
        theCandidate = theDirectory + (theLast == '\\' || theLast == '/' ? "" : "\\") + theFile;
        if (!isRegularFile(theCandidate))
            theCandidate.clear();
    }
    if (!theCandidate.empty())
        theModule = LoadLibraryExA(theCandidate.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    else
        theModule =
            LoadLibraryExA(theFile.c_str(), nullptr,
                           LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (theModule == nullptr)
    {
        const DWORD theError = GetLastError();
        reportLog(Report_debug, "loader: cannot load \"%s\": %s",
                  theCandidate.empty() ? theFile.c_str() : theCandidate.c_str(),
                  systemText(theError).c_str());
        itsLastError = LoaderError_modNotFound;
        return false;
    }
    itsHandle = theModule;
    char thePath[MAX_PATH + 1] = {};
    const DWORD theLength = GetModuleFileNameA(theModule, thePath, MAX_PATH);
    itsPath =
        theLength > 0 && theLength < MAX_PATH ? std::string(thePath, theLength) : theCandidate;
    itsLastError = 0;
    return true;
}

void* LoadedLibrary::symbol(const char* inName)
{
    if (itsHandle == nullptr || inName == nullptr)
    {
        itsLastError = LoaderError_procNotFound;
        return nullptr;
    }
    FARPROC theAddress = GetProcAddress(static_cast<HMODULE>(itsHandle), inName);
    if (theAddress == nullptr)
    {
        reportLog(Report_debug, "loader: no symbol \"%s\" in \"%s\": %s", inName, itsPath.c_str(),
                  systemText(GetLastError()).c_str());
        itsLastError = LoaderError_procNotFound;
        return nullptr;
    }
    itsLastError = 0;
    return reinterpret_cast<void*>(theAddress);
}

void LoadedLibrary::unload()
{
    if (itsHandle != nullptr)
        FreeLibrary(static_cast<HMODULE>(itsHandle));
    itsHandle = nullptr;
    itsPath.clear();
}

} // namespace corvel::platform
