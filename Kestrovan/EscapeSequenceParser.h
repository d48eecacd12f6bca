// The VT500-style byte parser: child-program output in, printable runs and control functions out.
//
// `EscapeSequenceParser` is a state machine driven by the shared `TransitionTable`, with fast paths
// for the bytes that dominate real output: printable runs, CSI parameter digits and OSC/APC
// payloads are consumed in runs found 16 bytes at a time, never looked up byte by byte. It calls a
// `ParserListener` (the terminal) with borrowed slices; nothing is allocated per printed run or per
// CSI sequence, and the OSC and APC buffers keep their storage between strings up to 1 MiB.
//
// Any sequence may be split across chunks: the state, partial payloads and parameters carry over.
// The parser owns no terminal state and is used under the terminal lock only.
#pragma once

#include "Kestrovan/CsiParameters.h"
#include "Kestrovan/DcsHandler.h"
#include "Kestrovan/ParserListener.h"
#include "Kestrovan/TransitionTable.h"
#include "Platform/Log/Log.h"
#include "Platform/Sync/ThreadSafety.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

namespace kestrovan {

namespace parserLoop {
struct ShortCsi;
struct CsiWord;
} // namespace parserLoop

/// The record made for a parsing-error report: where the error happened and what was pending.
class ParsingState
{
public:
    size_t position = 0;
    uint8_t code = 0;
    ParserState currentState = ParserState::ground;
    /// Start of the pending print run in the chunk, or -1.
    ptrdiff_t print = -1;
    /// Start of the pending DCS data in the chunk, or -1.
    ptrdiff_t dcs = -1;
    std::vector<uint8_t> osc;
    std::vector<uint8_t> apc;
    std::vector<uint8_t> collect;
    std::vector<int64_t> parameters;
    bool abort = false;

    /// The printed form used in the report.
    std::string description() const { return "Kestrovan.ParsingState"; }
};

/// The intermediates and private markers of the sequence being read, held inline. Real sequences
/// have at most three; a sequence that brings more than `capacity` is not dispatched.
struct CollectedBytes
{
    static constexpr size_t capacity = 16;

    std::array<uint8_t, capacity> bytes{};
    uint8_t size = 0;
    bool overflowed = false;

    void clear()
    {
        size = 0;
        overflowed = false;
    }
    void append(uint8_t byte)
    {
        if (size < capacity)
            bytes[size++] = byte;
        else
            overflowed = true;
    }
    std::span<const uint8_t> span() const { return {bytes.data(), size}; }
};

class EscapeSequenceParser
{
public:
    /// `TerminalOptions.maximumOscBytes` by default: 65 MiB.
    static constexpr size_t defaultMaximumOscBytes = 0x4100000;
    /// The fixed cap of an APC payload (kitty graphics), independent of the OSC cap.
    static constexpr size_t maximumApcBytes = 0x4100000;
    /// A program-status OSC (payload "7501;...") is capped here, whatever `maximumOscBytes` says.
    static constexpr size_t maximumProgramStatusBytes = 4092;
    /// OSC and APC buffers up to this capacity are kept for the next string; larger ones are freed.
    static constexpr size_t retainedStringCapacity = 1 << 20;

    using OscHandler = std::function<void(std::span<const uint8_t>)>;
    using DcsHandlerFactory = std::function<std::shared_ptr<DcsHandler>(std::span<const uint8_t> collect,
                                                                        const CsiParameters& parameters)>;

    explicit EscapeSequenceParser(size_t maximumOscBytes = defaultMaximumOscBytes);

    EscapeSequenceParser(const EscapeSequenceParser&) = delete;
    EscapeSequenceParser& operator=(const EscapeSequenceParser&) = delete;

    /// Parses one chunk, calling `listener` for every printable run and complete control function.
    /// The chunk is borrowed: the listener's spans point into it and are valid only during a call.
    void parseBorrowed(std::span<const uint8_t> bytes, ParserListener& listener);
    /// `parseBorrowed` for a listener whose type is known where the loop is instantiated
    /// (EscapeSequenceParserLoop.h): its handlers are called directly, not through the interface,
    /// and can be inlined. The terminal parses its output this way.
    // Not checked for locks: the loop is generic over its listener and cannot name a listener's
    // lock. The terminal's handlers require its lock, and `Terminal::feed`, the only caller with a
    // terminal, requires it in turn, so the contract is checked there.
    template <typename Listener>
    void parseBorrowedDirect(std::span<const uint8_t> bytes, Listener& listener) NO_THREAD_SAFETY_ANALYSIS;

    /// Returns to `initialState` and forgets every partial sequence and the active DCS handler.
    /// Called from inside a parse (ESC c), the rest of the chunk is parsed from the reset state.
    void reset();

    /// The colon mask of the last CSI "m" dispatched: bit i is set when parameter i was ended by
    /// ":" (the next parameter is its sub-parameter).
    uint64_t parsColonMask() const { return _parsColonMask; }
    /// The handler hooked for the DCS sequence being received, if any.
    const std::shared_ptr<DcsHandler>& dcsHandler() const { return activeDcsHandler; }

    /// Handlers the terminal installs by OSC number; the terminal consults them before its own.
    std::unordered_map<int, OscHandler> oscHandlers;
    /// Asked first for a DCS handler; a handler it returns wins over the listener's built-ins.
    DcsHandlerFactory dcsHandlerFactory;
    ParserState initialState = ParserState::ground;
    ParserState currentState = ParserState::ground;
    /// The cap of an OSC payload; an OSC that exceeds it is never dispatched.
    size_t maximumOscBytes;

    /// Re-entrant reset bookkeeping: set by a reset during a parse, cleared when the outermost
    /// parse ends; `resetSerial` counts resets during parses; `parseDepth` counts nested parses.
    bool didResetDuringParse = false;
    uint64_t resetSerial = 0;
    int parseDepth = 0;

private:
    /// The sequence state the parse loop keeps in locals and writes back at the end of a chunk.
    struct Scratch
    {
        ParserState state;
        CsiParameterStorage pars;
        uint64_t colonMask;
        CollectedBytes collect;
        bool parameterLimitExceeded;
    };

    Scratch loadScratch() const;
    /// The dispatch of a whole CSI sequence without intermediates and a final other than "m",
    /// read by the parse loop (EscapeSequenceParserLoop.h).
    template <typename Listener>
    static void dispatchPlainCsi(uint8_t finalByte, const CsiParameters& pars,
                                 Listener& listener) NO_THREAD_SAFETY_ANALYSIS;
    /// A CUP read whole by the parse loop, ending at `at` in `bytes`, and the printable ASCII run
    /// after it with the EL 0 that may end it, handed over together to a listener that takes
    /// them so; answers where the loop goes on.
    template <typename Listener>
    static size_t dispatchCursorPositionAndText(const CsiParameters& pars, std::span<const uint8_t> bytes,
                                                size_t at, Listener& listener) NO_THREAD_SAFETY_ANALYSIS;
    /// The fields after the first of `dispatchCursorPositionAndText`, from the CUP `position`
    /// read whole and ending at `at`, taken as one run by a listener that takes them so;
    /// answers where the loop goes on.
    template <typename Listener>
    static size_t dispatchFieldRun(const parserLoop::ShortCsi& position, std::span<const uint8_t> bytes,
                                   size_t at, Listener& listener) NO_THREAD_SAFETY_ANALYSIS;
    /// A pager's region traffic after the DECSTBM `region` read whole and ending at `at` in
    /// `bytes`: regions, positions with their text and line feeds, taken one after another by a
    /// listener that takes them so; answers where the loop goes on.
    template <typename Listener>
    static size_t dispatchRegionRun(const parserLoop::CsiWord& region, std::span<const uint8_t> bytes,
                                    size_t at, Listener& listener) NO_THREAD_SAFETY_ANALYSIS;
    /// The "Parser.Parse" signpost interval of one chunk, when profiling.
    platform::SignpostID beginParseSignpost() const;
    void endParseSignpost(platform::SignpostID signpost) const;
    void storeScratch(const Scratch& scratch);
    /// Forgets the sequence so far: no intermediates, one parameter 0. Inline, since every
    /// sequence starts with it.
    static void clearSequence(Scratch& scratch)
    {
        scratch.collect.clear();
        scratch.pars.clear();
        scratch.colonMask = 0;
        scratch.parameterLimitExceeded = false;
    }

    void reportParsingError(ParserListener& listener, const Scratch& scratch, size_t position, uint8_t code,
                            ptrdiff_t dcsStart) const;

    /// OSC accumulation.
    void startOsc();
    void emptyOscBuffer();
    void appendOscBytes(std::span<const uint8_t> bytes);
    void appendIgnoredOscByte(uint8_t byte);
    bool oscIsProgramStatus() const;
    bool oscExpectsUTF8Continuation() const;
    /// Appends the payload run starting at `index` and returns where it ends; a 0x9C that is not
    /// inside a UTF-8 character ends the OSC and is consumed.
    size_t consumeOscRun(std::span<const uint8_t> bytes, size_t index, Scratch& scratch,
                         ParserListener& listener);
    /// Takes the accumulated OSC out of the parser and dispatches it.
    void dispatchAccumulatedOsc(ParserListener& listener, uint8_t terminator);
    /// Drops an over-long, empty or unnumbered OSC; otherwise calls the listener with its number and
    /// the payload after the first ";".
    static void dispatchAccumulatedOsc(std::span<const uint8_t> osc, bool limitExceeded,
                                       bool ignoredPrefixBytes, uint8_t terminator, ParserListener& listener);
    /// The terminator of an OSC in the string-end action.
    void endOsc(uint8_t terminator, Scratch& scratch, ParserListener& listener);
    /// The byte after ESC inside a program-status OSC. Returns false when the byte must be parsed
    /// again in the `escape` state.
    bool finishProgramStatusSt(uint8_t byte, Scratch& scratch, ParserListener& listener);

    /// APC accumulation.
    void startApc();
    void emptyApcBuffer();
    size_t consumeApcRun(std::span<const uint8_t> bytes, size_t index);
    void endApc(uint8_t terminator, Scratch& scratch, ParserListener& listener);

    /// DCS.
    void hookDcs(const Scratch& scratch, uint8_t finalByte, ParserListener& listener);
    void putDcs(std::span<const uint8_t> data);
    void unhookDcs();

    std::shared_ptr<DcsHandler> activeDcsHandler;
    std::vector<uint8_t> _osc;
    bool _oscLimitExceeded = false;
    bool _oscIgnoredPrefixBytes = false;
    std::vector<uint8_t> _apc;
    bool _apcLimitExceeded = false;
    CsiParameterStorage _pars;
    uint64_t _parsColonMask = 0;
    uint64_t colonMask_ = 0;
    CollectedBytes _collect;
    bool _parameterLimitExceeded = false;
    /// The chunk ended in the middle of an OSC or APC payload run, so the next chunk continues the
    /// run instead of looking its first bytes up (which would take UTF-8 continuation bytes in
    /// 0x80-0x9F for C1 controls).
    bool stringRunOpen_ = false;
    const TransitionTable& table;
    /// `KESTROVAN_PROFILE` is "1": each chunk is a "Parser.Parse" signpost interval.
    bool profiling_;
};

} // namespace kestrovan
