// The terminal's capability table: the complete XTGETTCAP reply for each of the 271 capabilities
// this terminal describes itself with (the terminfo entry of "xterm-256color" as this emulator
// implements it).
//
// The table is generated at build time by tools/terminfo/ from a data file of the numbers, flags
// and control strings and, for the key capabilities, from the key encoder itself, so the strings a
// program reads here are exactly the bytes the terminal sends for those keys. It is not committed.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <unordered_map>

namespace kestrovan {

struct KestrovanTerminfo
{
    KestrovanTerminfo() = delete;

    /// Capability name in uppercase hexadecimal (two digits per byte) to the whole reply:
    /// ESC P "1+r", the key, for a capability with a value "=" and the value in uppercase
    /// hexadecimal, then ESC \. Always 7-bit. Built once, on first use.
    static const std::unordered_map<std::string, std::string>& xtgettcapReplies();
};

namespace detail {

/// One generated pair of the table.
struct XtgettcapTableEntry
{
    const char* key;
    const char* reply;
};

/// The generated pairs, in the order of their capability names (KestrovanTerminfoTable.cpp in the
/// build tree).
std::span<const XtgettcapTableEntry> xtgettcapTableEntries();

} // namespace detail

} // namespace kestrovan
