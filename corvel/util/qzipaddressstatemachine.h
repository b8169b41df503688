// qzIPAddressStateMachine: recognises dotted-decimal IPv4 addresses.
//
// The table checks each octet's value (0 to 255, up to three digits, so 001
// passes and 0001 does not); the number of octets is checked at the end by
// counting dots. Two optional forms, exclusive of each other:
//   - the reverse-lookup form, four octets followed by ".in-addr.arpa." with
//     its final dot (lower case only), when understandArpaFormat is set;
//   - the wildcard form, a "*" standing for the last octet given (a lone
//     "*", 10.*, 10.1.*, 10.1.2.*), when allowWildcard is set.
// IPv6 text is not recognised.
//
// Use: construct, feed the text with addBuffer (or addChar per character and
// then isLegalEnd), read the result, discard the object. The tables are built
// once per process, safely even when the first constructions race.
#pragma once

#include <cstdint>

#include "corvel/util/qzstatemachine.h"

class qzIPAddressStateMachine : public qzStateMachine
{
public:
    qzIPAddressStateMachine(bool inUnderstandArpaFormat = false, bool inAllowWildcard = false);
    ~qzIPAddressStateMachine() override;

    // Counts dots (even after rejection), then the base step.
    bool addChar(char inChar) override;

    // The whole text is an address: three dots for a plain address, six for
    // the reverse form, fewer than four for the wildcard form.
    bool isLegalEnd() const override;

    // A leading part of a plain address, such as 10 or 10.1.2.
    bool isPartialAddress() const;
    bool isArpaAddress() const;
    bool isWildcardAddress() const;

protected:
    bool itsUnderstandArpaFormatFlag;
    bool itsAllowWildcardFlag;
    std::uint32_t itsDotCount;
};
