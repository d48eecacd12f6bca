// The parser's states and actions, and the VT500 transition table that links them.
//
// The table answers, for a state and an input byte, which action to run and which state comes
// next, packed into one byte (action in the high nibble, next state in the low one). Bytes at or
// above 0xA0 all share the row of 0xA0, so a state needs 161 entries and the whole table fits in
// 4,095 bytes. It is built once per process and shared, read-only, by every parser.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace kestrovan {

/// Where the parser is inside a control sequence. The raw values index the transition table.
enum class ParserState : uint8_t
{
    ground,
    escape,
    escapeIntermediate,
    csiEntry,
    csiParam,
    csiIntermediate,
    csiIgnore,
    sosPmApcString,
    oscString,
    apcString,
    dcsEntry,
    dcsParam,
    dcsIgnore,
    dcsIntermediate,
    dcsPassthrough,
    /// An ESC arrived inside a program-status OSC: "\" completes it, anything else drops it.
    programStatusEscape,
};

/// What the parser does with a byte. The raw values are the high nibble of a table entry.
enum class ParserAction : uint8_t
{
    ignore,
    error,
    print,
    execute,
    /// OSC start, or APC start when the next state is `apcString`.
    stringStart,
    stringPut,
    stringEnd,
    csiDispatch,
    parameter,
    collect,
    escDispatch,
    clear,
    dcsHook,
    dcsPut,
    dcsUnhook,
};

class TransitionTable
{
public:
    /// Entries: 16 states × 256 would be 4,096; the last state only needs the first 161 of its row.
    static constexpr size_t size = 0xFFF;
    /// Every byte at or above this one is looked up as this one.
    static constexpr uint8_t highestDistinctByte = 0xA0;

    /// The entry for `byte` in `state`: action << 4 | next state.
    std::array<uint8_t, size> table{};

    static constexpr size_t index(ParserState state, uint8_t byte)
    {
        return static_cast<size_t>(state) << 8 | (byte < highestDistinctByte ? byte : highestDistinctByte);
    }

    uint8_t entry(ParserState state, uint8_t byte) const { return table[index(state, byte)]; }
    ParserAction action(ParserState state, uint8_t byte) const
    {
        return static_cast<ParserAction>(entry(state, byte) >> 4);
    }
    ParserState nextState(ParserState state, uint8_t byte) const
    {
        return static_cast<ParserState>(entry(state, byte) & 0x0F);
    }

    /// Sets the entry of `byte` in `state`.
    void add(uint8_t byte, ParserState state, ParserAction action, ParserState next);
    /// Sets the entries of `first` ... `last` (inclusive) in `state`.
    void addRange(uint8_t first, uint8_t last, ParserState state, ParserAction action, ParserState next);

    /// The process-wide table, built on first use.
    static const TransitionTable& shared();
};

/// Builds the VT500-style table every parser uses.
TransitionTable buildVt500TransitionTable();

} // namespace kestrovan
