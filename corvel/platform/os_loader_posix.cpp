// Plug-in loading over dlopen.
#include "corvel/platform/os_loader.h"

#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>

#include "corvel/platform/os_report.h"
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
    struct stat theInfo;
    return ::stat(inPath.c_str(), &theInfo) == 0 && S_ISREG(theInfo.st_mode);
}

// Where the installed package keeps its plug-ins (libdir/qzauthtest), as the
// build was configured; none in a build that does not say.
std::string privatePluginDirectory()
{
#ifdef CORVEL_PRIVATE_PLUGIN_DIR
    return CORVEL_PRIVATE_PLUGIN_DIR;
#else
    return std::string();
#endif
}

std::string lastDlError()
{
    const char* theText = ::dlerror();
    return theText ? std::string(theText) : std::string("unknown loader failure");
}

} // namespace

std::string pluginFileName(const std::string& inWindowsName)
{
    if (inWindowsName.empty() || inWindowsName.find_first_of("/\\") != std::string::npos ||
        inWindowsName == "." || inWindowsName == "..")
        return std::string();
    std::string theBase = inWindowsName;
    if (theBase.size() > 4)
    {
        std::string theExt = theBase.substr(theBase.size() - 4);
        for (char& curChar : theExt)
            if (curChar >= 'A' && curChar <= 'Z')
                curChar = static_cast<char>(curChar - 'A' + 'a');
        if (theExt == ".dll")
            theBase.resize(theBase.size() - 4);
    }
    return "lib" + theBase + ".so";
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
    const std::size_t theSlash = theProgram.rfind('/');
    if (theSlash == std::string::npos)
        return std::string();
    return theProgram.substr(0, theSlash == 0 ? 1 : theSlash);
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

    // The program's own copy first, then the one in the package's private
    // directory, each by absolute path, so that neither the search path nor
    // the current directory can put another one in their place.
    const std::string theDirectories[] = {pluginDirectory(), privatePluginDirectory()};
    for (const std::string& curDirectory : theDirectories)
    {
        if (curDirectory.empty() || curDirectory[0] != '/')
            continue;
        const std::string theCandidate =
            curDirectory + (curDirectory.back() == '/' ? "" : "/") + theFile;
        if (!isRegularFile(theCandidate))
            continue;
        itsHandle = ::dlopen(theCandidate.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (itsHandle == nullptr)
        {
            reportLog(Report_debug, "loader: cannot load \"%s\": %s", theCandidate.c_str(),
                      lastDlError().c_str());
            itsLastError = LoaderError_modNotFound;
            return false;
        }
        itsPath = theCandidate;
        itsLastError = 0;
        return true;
    }

    itsHandle = ::dlopen(theFile.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (itsHandle == nullptr)
    {
        reportLog(Report_debug, "loader: cannot load \"%s\": %s", theFile.c_str(),
                  lastDlError().c_str());
        itsLastError = LoaderError_modNotFound;
        return false;
    }
    // An empty or "." entry in the search path means the current directory;
    // such a library is not trusted.
    struct link_map* theMap = nullptr;
    if (::dlinfo(itsHandle, RTLD_DI_LINKMAP, &theMap) != 0 || theMap == nullptr ||
        theMap->l_name == nullptr || theMap->l_name[0] != '/')
    {
        reportLog(Report_debug, "loader: \"%s\" was found under a relative path, not used",
                  theFile.c_str());
        ::dlclose(itsHandle);
        itsHandle = nullptr;
        itsLastError = LoaderError_modNotFound;
        return false;
    }
    itsPath = theMap->l_name;
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
    ::dlerror();
    void* theAddress = ::dlsym(itsHandle, inName);
    if (theAddress == nullptr)
    {
        reportLog(Report_debug, "loader: no symbol \"%s\" in \"%s\": %s", inName, itsPath.c_str(),
                  lastDlError().c_str());
        itsLastError = LoaderError_procNotFound;
        return nullptr;
    }
    itsLastError = 0;
    return theAddress;
}

void LoadedLibrary::unload()
{
    if (itsHandle != nullptr)
        ::dlclose(itsHandle);
    itsHandle = nullptr;
    itsPath.clear();
}

} // namespace corvel::platform
