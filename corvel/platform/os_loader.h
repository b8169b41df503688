// Loading a plug-in library at run time by its Windows name.
//
// A plug-in is named the way Windows names it ("qzSSPI.dll"). On Linux that
// name stands for the shared library "libqzSSPI.so". It is looked for, by
// absolute path, first in the plug-in directory (the directory of the
// program file, unless code has chosen another with setPluginDirectory),
// then in the installed package's private directory (the library directory
// the build was configured with, plus "/qzauthtest":
// /usr/lib/<multiarch>/qzauthtest in the Debian package), and last through
// the dynamic loader's normal search. Plug-ins may receive passwords, so
// they are never taken from the current directory: a name with a path
// separator is refused, and a library the normal search found under a
// relative path is unloaded again.
//
// Failures leave a nonzero code, the Windows one where there is an equal:
//   LoaderError_modNotFound  (126) the library cannot be found or loaded;
//   LoaderError_procNotFound (127) the library has no such symbol;
//   LoaderError_invalidName   (87) the name is empty or carries a path.
// The system's own text of the failure goes to a debug log line.
#pragma once

#include <cstdint>
#include <string>

namespace corvel::platform
{

inline constexpr std::uint32_t LoaderError_invalidName = 87;
inline constexpr std::uint32_t LoaderError_modNotFound = 126;
inline constexpr std::uint32_t LoaderError_procNotFound = 127;

// "qzSSPI.dll" -> "libqzSSPI.so"; a name without ".dll" keeps its form with
// "lib" in front and ".so" behind. Empty for a name that is refused.
std::string pluginFileName(const std::string& inWindowsName);

// The directory searched first for plug-ins, instead of the program's own
// (the package's private directory still comes second). Empty restores the
// program's directory. Code only: there is no variable that changes it, nor
// the private directory, since a plug-in may see passwords. Not thread-safe:
// set it before plug-ins are loaded.
void setPluginDirectory(const std::string& inAbsoluteDirectory);
std::string pluginDirectory();

// One loaded library, unloaded when the object goes (or by unload()). Each
// object holds its own reference; the system counts them.
class LoadedLibrary
{
public:
    LoadedLibrary() = default;
    ~LoadedLibrary();
    LoadedLibrary(const LoadedLibrary&) = delete;
    LoadedLibrary& operator=(const LoadedLibrary&) = delete;

    // Loads the plug-in named inWindowsName (a previous one is unloaded
    // first). False with lastError() set when it cannot be loaded.
    bool load(const std::string& inWindowsName);
    // The address of an exported symbol, or null with lastError() set.
    void* symbol(const char* inName);
    void unload();
    bool isLoaded() const { return itsHandle != nullptr; }
    // The code of the last failure of this object, 0 after a success.
    std::uint32_t lastError() const { return itsLastError; }
    // Where the library was loaded from (absolute path), empty when unknown.
    const std::string& path() const { return itsPath; }

private:
    void* itsHandle = nullptr;
    std::uint32_t itsLastError = 0;
    std::string itsPath;
};

} // namespace corvel::platform
