#include "corvel/platform/os_process.h"

#include <vector>

#include <windows.h>

namespace corvel::platform
{

bool programFilePath(std::string& outPath)
{
    // GetModuleFileNameA truncates silently when the buffer is full (and
    // returns its size): grow until the result leaves room to spare.
    std::vector<char> theBuffer(MAX_PATH);
    while (theBuffer.size() <= 32768)
    {
        const DWORD theLength =
            GetModuleFileNameA(nullptr, theBuffer.data(), static_cast<DWORD>(theBuffer.size()));
        if (theLength == 0)
            return false;
        if (theLength < theBuffer.size())
        {
            outPath.assign(theBuffer.data(), theLength);
            return true;
        }
        theBuffer.resize(theBuffer.size() * 2);
    }
    return false;
}

} // namespace corvel::platform
