// Everything a loaded LDIF directory holds, as text: two loads are the same
// directory when their descriptions are equal. Used to compare loads of one
// file on different numbers of threads.
#pragma once

#include <string>

#include "corvel/platform/directory/dn.h"
#include "corvel/platform/directory/ldif/ldif_directory.h"

namespace dirtest
{

inline std::string describe(const corvel::directory::ldif::Directory& inDir)
{
    using namespace corvel::directory::ldif;
    std::string theText = inDir.itsLoaded ? "loaded\n" : "not loaded\n";
    const auto add = [&](std::string_view inPart)
    {
        theText += inPart;
        theText += '|';
    };
    for (std::size_t curAttr = 0; curAttr < inDir.itsAttrNames.size(); ++curAttr)
        add(inDir.itsAttrNames[curAttr]);
    theText += '\n';
    for (const DnRecord& curDn : inDir.itsDns)
    {
        add(curDn.itsText);
        add(corvel::directory::dn::toLowerAscii(
            std::string(curDn.itsKey))); // compared folded: its case is no content
        add(std::to_string(curDn.itsEntry));
        theText += '\n';
    }
    for (const Entry& curEntry : inDir.itsEntries)
    {
        add(std::to_string(curEntry.itsDn) + " line " + std::to_string(curEntry.itsLine) +
            " domain " + std::to_string(curEntry.itsDomain) + " classes " +
            std::to_string(curEntry.itsClasses));
        add(inDir.rdnText(curEntry));
        add(inDir.rdnValue(curEntry));
        for (const AttrValue& curValue : inDir.attrs(curEntry))
            add(std::to_string(curValue.itsAttr) + "=" +
                std::string(inDir.itsValues[curValue.itsValue]));
        add("members");
        for (std::uint32_t curMember : inDir.members(curEntry))
            add(std::to_string(curMember));
        add("memberOf");
        for (std::uint32_t curGroup : inDir.memberOf(curEntry))
            add(std::to_string(curGroup));
        theText += '\n';
    }
    for (const Domain& curDomain : inDir.itsDomains)
    {
        add(curDomain.itsNetbios);
        add(curDomain.itsDnsRoot);
        add(std::to_string(curDomain.itsNcDn) + " " + std::to_string(curDomain.itsNcRdnCount));
        theText += '\n';
    }
    return theText;
}

} // namespace dirtest
