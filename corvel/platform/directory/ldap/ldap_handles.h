// Owners for libldap's objects, so that every path frees what it was given:
//
//   LdapHandle      a connection handle (ldap_unbind_ext_s)
//   LdapMessage     a result chain (ldap_msgfree)
//   BerOwner        an attribute iteration state (ber_free, buffer kept)
//   BerValues       the values of one attribute (ldap_value_free_len)
//   LdapControl     one control (ldap_control_free)
//   LdapControls    a control array (ldap_controls_free)
//   LdapString      a string libldap allocated (ldap_memfree)
//   BerBuffer       bytes a berval points to (ber_memfree)
//   BerPtr          a whole berval (ber_bvfree)
//
// Out-parameters are filled through out(owner): the owner takes the pointer
// libldap wrote when the full expression of the call ends, so look at the
// owner in a statement of its own, not in the condition holding the call.
#pragma once

#include <ldap.h>
#include <pthread.h>
#include <signal.h>

#include <cerrno>

#include <memory>

namespace corvel::directory::ldap
{

// libldap writes to its sockets with plain write(): a server that closed
// the connection would kill the process with SIGPIPE. For its lifetime the
// calling thread holds SIGPIPE blocked, and a SIGPIPE raised meanwhile is
// taken off again, so that the write fails with EPIPE and the connection is
// found broken. The process's own handling of SIGPIPE (a pipe on standard
// output) is left as it is.
class SigPipeGuard
{
public:
    SigPipeGuard()
    {
        sigemptyset(&itsPipe);
        sigaddset(&itsPipe, SIGPIPE);
        sigset_t thePending;
        sigemptyset(&thePending);
        itsWasPending = sigpending(&thePending) == 0 && sigismember(&thePending, SIGPIPE) == 1;
        itsBlocked = pthread_sigmask(SIG_BLOCK, &itsPipe, &itsOld) == 0;
    }
    ~SigPipeGuard()
    {
        if (!itsBlocked)
            return;
        sigset_t thePending;
        sigemptyset(&thePending);
        if (!itsWasPending && sigpending(&thePending) == 0 &&
            sigismember(&thePending, SIGPIPE) == 1)
        {
            const timespec theNoWait{0, 0};
            while (sigtimedwait(&itsPipe, nullptr, &theNoWait) == -1 && errno == EINTR)
            {
            }
        }
        pthread_sigmask(SIG_SETMASK, &itsOld, nullptr);
    }
    SigPipeGuard(const SigPipeGuard&) = delete;
    SigPipeGuard& operator=(const SigPipeGuard&) = delete;

private:
    sigset_t itsPipe;
    sigset_t itsOld;
    bool itsWasPending = false;
    bool itsBlocked = false;
};

struct LdapUnbind
{
    void operator()(LDAP* inLd) const
    {
        const SigPipeGuard theGuard; // the unbind is written to a socket maybe closed
        ldap_unbind_ext_s(inLd, nullptr, nullptr);
    }
};
struct LdapMessageFree
{
    void operator()(LDAPMessage* inMessage) const { ldap_msgfree(inMessage); }
};
struct BerFree
{
    // The element's buffer belongs to the message it reads.
    void operator()(BerElement* inBer) const { ber_free(inBer, 0); }
};
struct BerValuesFree
{
    void operator()(berval** inValues) const { ldap_value_free_len(inValues); }
};
struct LdapControlFree
{
    void operator()(LDAPControl* inControl) const { ldap_control_free(inControl); }
};
struct LdapControlsFree
{
    void operator()(LDAPControl** inControls) const { ldap_controls_free(inControls); }
};
struct LdapMemFree
{
    void operator()(char* inText) const { ldap_memfree(inText); }
};
struct BerMemFree
{
    void operator()(char* inBytes) const { ber_memfree(inBytes); }
};
struct BerBvFree
{
    void operator()(berval* inValue) const { ber_bvfree(inValue); }
};

using LdapHandle = std::unique_ptr<LDAP, LdapUnbind>;
using LdapMessage = std::unique_ptr<LDAPMessage, LdapMessageFree>;
using BerOwner = std::unique_ptr<BerElement, BerFree>;
using BerValues = std::unique_ptr<berval*, BerValuesFree>;
using LdapControl = std::unique_ptr<LDAPControl, LdapControlFree>;
using LdapControls = std::unique_ptr<LDAPControl*, LdapControlsFree>;
using LdapString = std::unique_ptr<char, LdapMemFree>;
using BerBuffer = std::unique_ptr<char, BerMemFree>;
using BerPtr = std::unique_ptr<berval, BerBvFree>;

// The slot an out-parameter writes; the owner takes what was written when the
// full expression ends.
template <typename Owner>
class OutSlot
{
public:
    explicit OutSlot(Owner& ioOwner) : itsOwner(ioOwner) {}
    ~OutSlot() { itsOwner.reset(itsRaw); }
    OutSlot(const OutSlot&) = delete;
    OutSlot& operator=(const OutSlot&) = delete;
    operator typename Owner::pointer *() { return &itsRaw; }

private:
    Owner& itsOwner;
    typename Owner::pointer itsRaw = nullptr;
};

template <typename Owner>
OutSlot<Owner> out(Owner& ioOwner)
{
    ioOwner.reset();
    return OutSlot<Owner>(ioOwner);
}

} // namespace corvel::directory::ldap
