// qzStringServer: message texts by reference number.
//
// Applications register tables of texts at start-up; a qzMessage can then
// name its text by number. The server keeps the pointers only: registered
// texts must outlive every use (string literals in static tables).
//
// Reference number 0 is reserved for the empty text and is never stored.
// There is no lock: registration must be complete before other threads render
// messages; after that, lookups only read.
#pragma once

#include <cstdint>
#include <map>

// One row of a registration table; a table ends with a row whose reference
// number is 0.
struct qzStringEntry
{
    std::uint32_t itsRef;
    const char* itsText;
};

class qzStringServer
{
public:
    qzStringServer();
    ~qzStringServer();

    qzStringServer(const qzStringServer&) = delete;
    qzStringServer& operator=(const qzStringServer&) = delete;

    // The text registered under inRef; "" for 0. An unregistered number is a
    // programming error: it is reported by an assertion and yields "".
    const char* getString(std::uint32_t inRef) const;

    // Registers one text and returns a reference to the stored pointer.
    // Registering a number twice is reported by an assertion and the new
    // text replaces the old one. Number 0 is refused (assertion) and nothing
    // is stored.
    const char*& addString(std::uint32_t inRef, const char* inText);
    const char*& addString(const qzStringEntry& inEntry);

    // Registers every row before the terminating row, in table order, and
    // returns the reference number of the last row registered (not the
    // largest); 0 for an empty table or a null pointer.
    std::uint32_t addStrings(const qzStringEntry* inTable);

private:
    std::map<std::uint32_t, const char*> itsStrMap;
    // What addString returns a reference to when it stores nothing.
    const char* itsRefused = "";
};

// The process-wide server, built during static initialisation.
extern qzStringServer theStringServer;
