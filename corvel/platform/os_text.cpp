#include "corvel/platform/os_text.h"

namespace corvel::platform
{

namespace
{

// Through a volatile pointer, so that the stores are not dropped as dead.
template <typename String>
void wipeAny(String& ioText)
{
    volatile typename String::value_type* theData = ioText.data();
    for (std::size_t curIndex = 0; curIndex < ioText.size(); ++curIndex)
        theData[curIndex] = 0;
    ioText.clear();
}

} // namespace

void wipeText(std::string& ioText) { wipeAny(ioText); }
void wipeText(std::wstring& ioText) { wipeAny(ioText); }
void wipeText(std::u16string& ioText) { wipeAny(ioText); }

} // namespace corvel::platform
