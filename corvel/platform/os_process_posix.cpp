#include "corvel/platform/os_process.h"

#include <unistd.h>
#include <vector>

namespace corvel::platform
{

bool programFilePath(std::string& outPath)
{
    // readlink does not say whether it truncated: grow until the result
    // leaves room to spare.
    std::vector<char> theBuffer(256);
    while (theBuffer.size() <= (1u << 20))
    {
        const ssize_t theLength = ::readlink("/proc/self/exe", theBuffer.data(), theBuffer.size());
        if (theLength < 0)
            return false;
        if (static_cast<std::size_t>(theLength) < theBuffer.size())
        {
            outPath.assign(theBuffer.data(), static_cast<std::size_t>(theLength));
            return true;
        }
        theBuffer.resize(theBuffer.size() * 2);
    }
    return false;
}

} // namespace corvel::platform
