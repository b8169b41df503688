// libldap's and liblber's own diagnostics, in the platform's voice.
//
// Left alone, the libraries print what they find wrong (a malformed LDIF
// value: "ldap_pvt_decode_b64_inplace: invalid base64 encoding char ...")
// straight to standard error, past the information log's callbacks,
// threshold and destination. Routed, each such line becomes a warning of
// the information log (platform::reportLog), "libldap: " and the line.
//
// Only what the libraries print through liblber's log function is routed;
// Debian's libldap 2.5 prints the record parser's own complaints
// (ldap_parse_ldif_record: "ldif: invalid format ...") with fprintf, which
// no option reaches. The LDIF loader reports the most common of them itself
// (see ldif_reader.h).
#pragma once

#include <string>
#include <vector>

namespace corvel::directory
{

// Routes the libraries' lines for the whole process. Thread-safe and
// idempotent: call it before anything that may make libldap print.
void routeLibldapDiagnostics();

// Reports one of the libraries' lines as the routing does.
void reportLibldapLine(const std::string& inText);

// While it lives, the libraries' lines printed on this thread are kept in
// the given list (in order) instead of being reported, so that a caller
// working on several threads can report them in an order of its own.
class LibldapLineCapture
{
public:
    explicit LibldapLineCapture(std::vector<std::string>& outLines);
    ~LibldapLineCapture();
    LibldapLineCapture(const LibldapLineCapture&) = delete;
    LibldapLineCapture& operator=(const LibldapLineCapture&) = delete;

private:
    std::vector<std::string>* itsOuter;
};

} // namespace corvel::directory
