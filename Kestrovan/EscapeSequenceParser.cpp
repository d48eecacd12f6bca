#include "Kestrovan/EscapeSequenceParser.h"

#include "Kestrovan/ByteRunScanner.h"
#include "Kestrovan/Diagnostics.h"
#include "Platform/Log/Log.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>

namespace kestrovan {

namespace {

constexpr uint8_t CAN = 0x18;
constexpr uint8_t SUB = 0x1A;
constexpr uint8_t ESC = 0x1B;
constexpr uint8_t ST = 0x9C;

constexpr std::string_view programStatusPrefix = "7501;";
constexpr int programStatusCode = 7501;

/// The profiling switch, read once per process.
bool profilingSignpostsEnabled()
{
    static const bool enabled = [] {
        const char* value = std::getenv("KESTROVAN_PROFILE");
        return value != nullptr && std::strcmp(value, "1") == 0;
    }();
    return enabled;
}

const platform::Logger& parserProfileLog()
{
    static const platform::Logger log("org.morvane.Kestrovan", "ParserProfile");
    return log;
}

bool isDigit(uint8_t byte)
{
    return static_cast<unsigned>(byte - '0') < 10u;
}

/// A digit or one of the separators ";" and ":".
bool isParameterByte(uint8_t byte)
{
    return static_cast<unsigned>(byte - '0') <= static_cast<unsigned>(';' - '0');
}

/// A non-negative decimal made only of digits, or nothing when it is empty, has another byte or
/// does not fit an `int`.
std::optional<int> parseDecimal(std::span<const uint8_t> digits)
{
    if (digits.empty())
        return std::nullopt;
    int value = 0;
    for (uint8_t byte : digits) {
        if (!isDigit(byte))
            return std::nullopt;
        if (__builtin_mul_overflow(value, 10, &value) || __builtin_add_overflow(value, byte - '0', &value))
            return std::nullopt;
    }
    return value;
}

bool startsWithProgramStatusPrefix(std::span<const uint8_t> payload)
{
    return payload.size() >= programStatusPrefix.size() &&
           std::memcmp(payload.data(), programStatusPrefix.data(), programStatusPrefix.size()) == 0;
}

/// Empties a string buffer. Its storage is kept for the next string unless it has grown past
/// `retainedStringCapacity` or served an over-long string, so one huge payload does not pin memory
/// for the life of the terminal.
void emptyStringBuffer(std::vector<uint8_t>& buffer, bool limitExceeded)
{
    if (limitExceeded || buffer.capacity() > EscapeSequenceParser::retainedStringCapacity)
        std::vector<uint8_t>().swap(buffer);
    else
        buffer.clear();
}

/// Gives the storage of a dispatched string back to its buffer, unless a nested parse started a new
/// string in the buffer during the dispatch.
void restoreStringBuffer(std::vector<uint8_t>& buffer, std::vector<uint8_t>& taken, bool limitExceeded)
{
    if (buffer.capacity() != 0)
        return;
    emptyStringBuffer(taken, limitExceeded);
    buffer.swap(taken);
}

/// The end of a printable run starting at `start` (a byte at or above 0x20). With at least a
/// block left in the chunk the scan goes 16 bytes at a time from the start, so the short runs
/// between escape sequences cost one compare; the last partial block is read as the chunk's final
/// 16 bytes, its bytes already scanned masked off. Only a chunk shorter than a block is walked
/// byte by byte.
size_t scanPrintableRun(std::span<const uint8_t> bytes, size_t start)
{
    const size_t length = bytes.size();
    size_t end = start + 1;
#if defined(__SSE2__)
    if (length >= ByteRunScanner::blockSize) {
        end = ByteRunScanner::vectorScanC0(bytes, end);
        if (end == length || bytes[end] < 0x20)
            return end;
        // Fewer than 16 bytes left: the final block overlaps what was scanned.
        const size_t last = length - ByteRunScanner::blockSize;
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes.data() + last));
        const __m128i highestC0 = _mm_set1_epi8(0x1F);
        unsigned bits =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(block, highestC0), block)));
        bits &= ~0u << (end - last);
        return bits != 0 ? last + static_cast<size_t>(__builtin_ctz(bits)) : length;
    }
#endif
    while (end < length && bytes[end] >= 0x20)
        ++end;
    return end;
}

/// Folds the parameter bytes (digits, ";" and ":") from `index` into the sequence's parameters
/// and answers where they end. The open parameter is accumulated in a register and stored once
/// per separator. A 25th parameter marks the sequence too long; the rest of its parameter bytes
/// are then only skipped.
template <typename Scratch>
[[gnu::always_inline]] inline size_t foldParameterBytes(const uint8_t* data, size_t index, size_t length,
                                                        Scratch& s)
{
    if (!s.parameterLimitExceeded) {
        CsiParameterStorage& pars = s.pars;
        int64_t* open = &pars.storage[static_cast<size_t>(pars.count - 1)];
        int64_t value = *open;
        for (; index < length; ++index) {
            const unsigned digit = static_cast<unsigned>(data[index] - '0');
            if (digit < 10) {
                value = CsiParameterStorage::foldDigit(value, static_cast<int>(digit));
                continue;
            }
            if (digit > static_cast<unsigned>(';' - '0'))
                break;
            *open = value;
            if (!pars.openParameter(data[index] == ':', s.colonMask)) {
                // A 25th parameter: the whole sequence will be dropped.
                s.parameterLimitExceeded = true;
                ++index;
                break;
            }
            open = &pars.storage[static_cast<size_t>(pars.count - 1)];
            value = 0;
        }
        if (!s.parameterLimitExceeded) {
            *open = value;
            return index;
        }
    }
    while (index < length && isParameterByte(data[index]))
        ++index;
    return index;
}

} // namespace

EscapeSequenceParser::EscapeSequenceParser(size_t maximumOscBytes)
    : maximumOscBytes(maximumOscBytes), table(TransitionTable::shared()),
      profiling_(profilingSignpostsEnabled())
{}

EscapeSequenceParser::Scratch EscapeSequenceParser::loadScratch() const
{
    return Scratch{currentState, _pars, colonMask_, _collect, _parameterLimitExceeded};
}

void EscapeSequenceParser::storeScratch(const Scratch& scratch)
{
    currentState = scratch.state;
    _pars = scratch.pars;
    colonMask_ = scratch.colonMask;
    _collect = scratch.collect;
    _parameterLimitExceeded = scratch.parameterLimitExceeded;
}

void EscapeSequenceParser::clearSequence(Scratch& scratch)
{
    scratch.collect.clear();
    scratch.pars.clear();
    scratch.colonMask = 0;
    scratch.parameterLimitExceeded = false;
}

void EscapeSequenceParser::reset()
{
    currentState = initialState;
    emptyStringBuffer(_osc, _oscLimitExceeded);
    _oscLimitExceeded = false;
    _oscIgnoredPrefixBytes = false;
    emptyStringBuffer(_apc, _apcLimitExceeded);
    _apcLimitExceeded = false;
    _collect.clear();
    _pars.clear();
    colonMask_ = 0;
    _parsColonMask = 0;
    _parameterLimitExceeded = false;
    stringRunOpen_ = false;
    activeDcsHandler.reset();
    if (parseDepth >= 1) {
        didResetDuringParse = true;
        ++resetSerial;
    }
}

void EscapeSequenceParser::parseBorrowed(std::span<const uint8_t> bytes, ParserListener& listener)
{
    ++parseDepth;
    platform::SignpostID signpost = platform::invalidSignpostID;
    if (profiling_) [[unlikely]] {
        signpost = parserProfileLog().makeSignpostID();
        parserProfileLog().signpostBegin("Parser.Parse", signpost);
    }

    const uint8_t* data = bytes.data();
    const size_t length = bytes.size();
    // The sequence state lives in locals for the chunk: the compiler can keep it out of memory
    // across the listener's virtual calls, and a nested parse started from inside a call works on
    // the stored copy. It is written back at the end of the chunk.
    Scratch s = loadScratch();
    uint64_t seenResetSerial = resetSerial;
    // Start of DCS payload not yet handed to the handler, or -1.
    ptrdiff_t dcsStart = -1;
    size_t i = 0;

    // A listener call may reset the parser (ESC c). The reset state then replaces the loop's own,
    // so that the rest of the chunk, and any sequence it leaves unfinished, continue from it.
    auto adoptReset = [&] {
        if (didResetDuringParse && resetSerial != seenResetSerial) [[unlikely]] {
            seenResetSerial = resetSerial;
            s = loadScratch();
            dcsStart = -1;
        }
    };

    if (stringRunOpen_ && (s.state == ParserState::oscString || s.state == ParserState::apcString)) {
        i = s.state == ParserState::oscString ? consumeOscRun(bytes, 0, s, listener)
                                              : consumeApcRun(bytes, 0);
        adoptReset();
    }

    while (i < length) {
        const uint8_t byte = data[i];

        if (s.state == ParserState::ground) {
            // Text: everything at or above 0x20 in ground is printed, DEL and 8-bit C1 included, so
            // C1 controls are never recognised here (they would break UTF-8).
            if (byte >= 0x20) {
                const size_t end = scanPrintableRun(bytes, i);
                listener.handlePrintBorrowed(bytes.subspan(i, end - i));
                i = end;
                adoptReset();
                continue;
            }
            // ESC [ with parameters and a final byte: the table's clear, clear, parameter and
            // dispatch actions, inlined. Anything else after the parameters (an intermediate, a
            // private marker, a control, the end of the chunk) leaves the sequence in the state the
            // table would have reached, and the loop goes on from there.
            if (byte == ESC) {
                if (i + 1 < length && data[i + 1] == '[') {
                    clearSequence(s);
                    s.state = ParserState::csiEntry;
                    i += 2;
                    if (i < length && (isDigit(data[i]) || data[i] == ';')) {
                        s.state = ParserState::csiParam;
                        i = foldParameterBytes(data, i, length, s);
                    }
                    if (i < length && data[i] >= 0x40 && data[i] <= 0x7E) {
                        const uint8_t finalByte = data[i];
                        s.state = ParserState::ground;
                        ++i;
                        if (!s.parameterLimitExceeded) {
                            if (finalByte == 'm')
                                _parsColonMask = s.colonMask;
                            listener.dispatchCsi(finalByte, CsiParameters(s.pars), {});
                        }
                        adoptReset();
                    }
                    continue;
                }
            } else if (byte != 0x19) {
                // Every other C0 control in ground executes and stays in ground; 0x19 is the
                // table's parsing error.
                listener.dispatchExecute(byte);
                ++i;
                adoptReset();
                continue;
            }
        }

        // CSI parameters: digits are folded straight into the last parameter and separators open
        // the next one, without a table lookup per byte (the table's "parameter" action, inlined).
        // A colon cannot open a CSI, so in csiEntry it is left to the table (a parsing error).
        if ((s.state == ParserState::csiParam && isParameterByte(byte)) ||
            (s.state == ParserState::csiEntry && (isDigit(byte) || byte == ';'))) {
            s.state = ParserState::csiParam;
            i = foldParameterBytes(data, i, length, s);
            continue;
        }

        const uint8_t entry = table.entry(s.state, byte);
        const auto action = static_cast<ParserAction>(entry >> 4);
        const auto next = static_cast<ParserState>(entry & 0x0F);

        // Leaving a DCS payload other than through its terminator (SUB, a C1 control, a parsing
        // error) cancels it: the handler gets what arrived so far, as it would have at the end of a
        // chunk, and is then dropped without unhook.
        if (s.state == ParserState::dcsPassthrough && next != ParserState::dcsPassthrough &&
            action != ParserAction::dcsUnhook && !(action == ParserAction::error && byte >= 0xA0))
            [[unlikely]] {
            if (dcsStart >= 0)
                putDcs(bytes.subspan(static_cast<size_t>(dcsStart), i - static_cast<size_t>(dcsStart)));
            dcsStart = -1;
            activeDcsHandler.reset();
        }

        switch (action) {
        case ParserAction::ignore:
            if (s.state == ParserState::oscString) {
                appendIgnoredOscByte(byte);
            } else if (dcsStart >= 0) {
                // DEL inside a DCS payload: hand over what came before it; it splits the payload.
                putDcs(bytes.subspan(static_cast<size_t>(dcsStart), i - static_cast<size_t>(dcsStart)));
                dcsStart = -1;
            }
            s.state = next;
            ++i;
            break;

        case ParserAction::error:
            if (byte >= 0xA0 && (s.state == ParserState::csiIgnore || s.state == ParserState::dcsIgnore)) {
                ++i;
                break;
            }
            if (byte >= 0xA0 && s.state == ParserState::dcsPassthrough) {
                // Payload bytes of a DCS string (for example UTF-8 in a DECRQSS reply).
                if (dcsStart < 0)
                    dcsStart = static_cast<ptrdiff_t>(i);
                ++i;
                break;
            }
            // 0x19, a high byte inside a sequence, DEL in ground: report, forget the sequence and
            // parse what follows from ground.
            reportParsingError(listener, s, i, byte, dcsStart);
            s.state = ParserState::ground;
            ++i;
            break;

        case ParserAction::print:
            // Only ground prints, and the fast path above takes those bytes.
            listener.handlePrintBorrowed(bytes.subspan(i, 1));
            s.state = next;
            ++i;
            break;

        case ParserAction::execute:
            // C0 controls (also inside ESC and CSI sequences, which they do not cancel), SUB, and
            // the C1 controls that do not introduce a sequence.
            listener.dispatchExecute(byte);
            s.state = next;
            ++i;
            break;

        case ParserAction::stringStart:
            if (next == ParserState::apcString)
                startApc();
            else
                startOsc();
            s.state = next;
            ++i;
            break;

        case ParserAction::stringPut:
            // The whole run of payload bytes is taken at once; the loop resumes at its end.
            if (s.state == ParserState::oscString)
                i = consumeOscRun(bytes, i, s, listener);
            else
                i = consumeApcRun(bytes, i);
            break;

        case ParserAction::stringEnd:
            if (s.state == ParserState::oscString)
                endOsc(byte, s, listener);
            else
                endApc(byte, s, listener);
            ++i;
            break;

        case ParserAction::csiDispatch:
            if (!s.parameterLimitExceeded && !s.collect.overflowed) {
                // SGR needs to tell sub-parameters (4:3, 38:2:r:g:b) from parameters.
                if (byte == 'm')
                    _parsColonMask = s.colonMask;
                listener.dispatchCsi(byte, CsiParameters(s.pars), s.collect.span());
            }
            s.state = next;
            ++i;
            break;

        case ParserAction::parameter:
            if (isDigit(byte)) {
                if (!s.parameterLimitExceeded)
                    s.pars.appendDigit(byte - '0');
            } else if (!s.parameterLimitExceeded && !s.pars.openParameter(byte == ':', s.colonMask)) {
                // A 25th parameter: the whole sequence will be dropped.
                s.parameterLimitExceeded = true;
            }
            s.state = next;
            ++i;
            break;

        case ParserAction::collect:
            // Intermediates (0x20-0x2F) and private markers (< = > ?).
            s.collect.append(byte);
            s.state = next;
            ++i;
            break;

        case ParserAction::escDispatch:
            // The byte after ESC inside a program-status OSC: either its ST or a new sequence,
            // in which case the byte is parsed again in `escape` (no ++i).
            if (s.state == ParserState::programStatusEscape) {
                if (finishProgramStatusSt(byte, s, listener))
                    ++i;
                break;
            }
            if (!s.collect.overflowed)
                listener.dispatchEsc(s.collect.span(), byte);
            s.state = next;
            ++i;
            break;

        case ParserAction::clear:
            // ESC, CSI and DCS introducers start a sequence with empty intermediates and one
            // parameter 0.
            clearSequence(s);
            s.state = next;
            ++i;
            break;

        case ParserAction::dcsHook:
            hookDcs(s, byte, listener);
            dcsStart = -1;
            s.state = next;
            ++i;
            break;

        case ParserAction::dcsPut:
            // Payload is handed over in slices of the chunk, not byte by byte: remember where the
            // pending slice starts.
            if (dcsStart < 0)
                dcsStart = static_cast<ptrdiff_t>(i);
            ++i;
            break;

        case ParserAction::dcsUnhook:
            if (dcsStart >= 0)
                putDcs(bytes.subspan(static_cast<size_t>(dcsStart), i - static_cast<size_t>(dcsStart)));
            dcsStart = -1;
            unhookDcs();
            if (byte == ESC) {
                // ESC \ then completes as an ESC dispatch of "\", which does nothing.
                clearSequence(s);
                s.state = ParserState::escape;
            } else {
                s.state = ParserState::ground;
            }
            ++i;
            break;
        }
        adoptReset();
    }

    // DCS payload received so far goes to the handler now: the chunk it points into is only borrowed.
    if (s.state == ParserState::dcsPassthrough && dcsStart >= 0) {
        putDcs(bytes.subspan(static_cast<size_t>(dcsStart)));
        adoptReset();
    }
    storeScratch(s);

    // A reset during a nested parse must still be seen by the parse that called it, so the flag
    // only goes down with the outermost parse.
    if (--parseDepth == 0)
        didResetDuringParse = false;
    if (profiling_) [[unlikely]]
        parserProfileLog().signpostEnd("Parser.Parse", signpost);
}

void EscapeSequenceParser::reportParsingError(ParserListener& listener, const Scratch& scratch,
                                              size_t position, uint8_t code, ptrdiff_t dcsStart) const
{
    if (listener.silentLog())
        return;
    // The record only exists for this report; its printed form is fixed, so it is not made at all
    // when the report is silenced.
    ParsingState record;
    record.position = position;
    record.code = code;
    record.currentState = scratch.state;
    record.dcs = dcsStart;
    record.osc = _osc;
    record.apc = _apc;
    record.collect.assign(scratch.collect.span().begin(), scratch.collect.span().end());
    record.parameters.assign(scratch.pars.storage.begin(), scratch.pars.storage.begin() + scratch.pars.count);
    printDiagnostic("Info: Kestrovan: Parsing error, state: " + record.description());
}

// MARK: OSC

void EscapeSequenceParser::startOsc()
{
    emptyOscBuffer();
    stringRunOpen_ = false;
}

void EscapeSequenceParser::emptyOscBuffer()
{
    emptyStringBuffer(_osc, _oscLimitExceeded);
    _oscLimitExceeded = false;
    _oscIgnoredPrefixBytes = false;
}

bool EscapeSequenceParser::oscIsProgramStatus() const
{
    return startsWithProgramStatusPrefix(_osc);
}

void EscapeSequenceParser::appendOscBytes(std::span<const uint8_t> bytes)
{
    if (bytes.empty())
        return;
    const size_t stored = _osc.size();
    const size_t total = stored + bytes.size();
    // Byte k of the payload received so far followed by `bytes`.
    auto at = [&](size_t k) { return k < stored ? _osc[k] : bytes[k - stored]; };

    if (!_oscLimitExceeded) {
        size_t cap = maximumOscBytes;
        bool programStatus = total >= programStatusPrefix.size();
        for (size_t k = 0; programStatus && k < programStatusPrefix.size(); ++k)
            programStatus = at(k) == static_cast<uint8_t>(programStatusPrefix[k]);
        if (programStatus)
            cap = std::min(cap, maximumProgramStatusBytes);
        if (total <= cap) {
            _osc.insert(_osc.end(), bytes.begin(), bytes.end());
            return;
        }
        _oscLimitExceeded = true;
    }

    // Over the cap the OSC will not be dispatched. Only two things are still read from it: its
    // first five bytes (is it a program-status OSC?) and its last four (does it end inside a UTF-8
    // character, which decides whether 0x9C is payload or ST). Keep exactly those.
    std::array<uint8_t, 9> kept;
    size_t count = 0;
    if (total <= kept.size()) {
        for (size_t k = 0; k < total; ++k)
            kept[count++] = at(k);
    } else {
        for (size_t k = 0; k < 5; ++k)
            kept[count++] = at(k);
        for (size_t k = total - 4; k < total; ++k)
            kept[count++] = at(k);
    }
    _osc.assign(kept.begin(), kept.begin() + static_cast<ptrdiff_t>(count));
}

void EscapeSequenceParser::appendIgnoredOscByte(uint8_t byte)
{
    // A program-status payload keeps its control bytes (its own parser rejects them); any other
    // OSC drops them, and remembers it so that a payload that becomes "7501;" only after a dropped
    // byte is not taken for a program-status report.
    if (oscIsProgramStatus())
        appendOscBytes({&byte, 1});
    else
        _oscIgnoredPrefixBytes = true;
}

bool EscapeSequenceParser::oscExpectsUTF8Continuation() const
{
    // Walk back over at most three continuation bytes to the lead byte that announces them.
    size_t k = _osc.size();
    int continuations = 0;
    while (k > 0 && continuations < 3 && (_osc[k - 1] & 0xC0) == 0x80) {
        --k;
        ++continuations;
    }
    if (k == 0)
        return false;
    const uint8_t lead = _osc[k - 1];
    int announced = 0;
    if ((lead & 0xE0) == 0xC0)
        announced = 1;
    else if ((lead & 0xF0) == 0xE0)
        announced = 2;
    else if ((lead & 0xF8) == 0xF0)
        announced = 3;
    return continuations < announced;
}

size_t EscapeSequenceParser::consumeOscRun(std::span<const uint8_t> bytes, size_t index, Scratch& scratch,
                                           ParserListener& listener)
{
    const size_t length = bytes.size();
    size_t runStart = index;
    size_t end = index;
    while (true) {
        if (length - end >= ByteRunScanner::blockSize)
            end = ByteRunScanner::vectorScanC0OrByte(ST, bytes, end);
        while (end < length && bytes[end] >= 0x20 && bytes[end] != ST)
            ++end;
        appendOscBytes(bytes.subspan(runStart, end - runStart));
        if (end == length) {
            stringRunOpen_ = true;
            return end;
        }
        if (bytes[end] != ST) {
            // A control byte: the table decides what it does.
            stringRunOpen_ = false;
            return end;
        }
        if (oscExpectsUTF8Continuation()) {
            // 0x9C continues a UTF-8 character here (U+2713 is E2 9C 93): payload, not ST.
            runStart = end;
            ++end;
            continue;
        }
        stringRunOpen_ = false;
        endOsc(ST, scratch, listener);
        return end + 1;
    }
}

void EscapeSequenceParser::endOsc(uint8_t terminator, Scratch& scratch, ParserListener& listener)
{
    if (terminator == CAN || terminator == SUB) {
        emptyOscBuffer();
        scratch.state = ParserState::ground;
        return;
    }
    if (terminator == ESC && oscIsProgramStatus() && !_oscLimitExceeded && !_oscIgnoredPrefixBytes) {
        // A program-status report is dispatched only once ESC \ is complete: ESC followed by
        // anything else drops it and acts as that escape sequence.
        scratch.state = ParserState::programStatusEscape;
        return;
    }
    dispatchAccumulatedOsc(listener, terminator);
    if (terminator == ESC) {
        clearSequence(scratch);
        scratch.state = ParserState::escape;
    } else {
        scratch.state = ParserState::ground;
    }
}

bool EscapeSequenceParser::finishProgramStatusSt(uint8_t byte, Scratch& scratch, ParserListener& listener)
{
    if (byte == '\\') {
        scratch.state = ParserState::ground;
        dispatchAccumulatedOsc(listener, ESC);
        return true;
    }
    emptyOscBuffer();
    clearSequence(scratch);
    scratch.state = ParserState::escape;
    return false;
}

void EscapeSequenceParser::dispatchAccumulatedOsc(ParserListener& listener, uint8_t terminator)
{
    // The payload leaves the parser for the call, so that a nested parse from inside the listener
    // works on a buffer of its own.
    std::vector<uint8_t> taken;
    taken.swap(_osc);
    const bool limitExceeded = _oscLimitExceeded;
    const bool ignoredPrefixBytes = _oscIgnoredPrefixBytes;
    _oscLimitExceeded = false;
    _oscIgnoredPrefixBytes = false;
    dispatchAccumulatedOsc(taken, limitExceeded, ignoredPrefixBytes, terminator, listener);
    restoreStringBuffer(_osc, taken, limitExceeded);
}

void EscapeSequenceParser::dispatchAccumulatedOsc(std::span<const uint8_t> osc, bool limitExceeded,
                                                  bool ignoredPrefixBytes, uint8_t terminator,
                                                  ParserListener& listener)
{
    if (limitExceeded || osc.empty())
        return;
    const auto semicolon = std::find(osc.begin(), osc.end(), static_cast<uint8_t>(';'));
    const auto code = parseDecimal({osc.begin(), semicolon});
    if (!code)
        return;
    std::span<const uint8_t> data;
    if (semicolon != osc.end())
        data = {semicolon + 1, osc.end()};
    if (*code == programStatusCode &&
        (!startsWithProgramStatusPrefix(osc) || ignoredPrefixBytes || osc.size() > maximumProgramStatusBytes))
        return;
    listener.dispatchOsc(*code, data, terminator);
}

// MARK: APC

void EscapeSequenceParser::startApc()
{
    emptyApcBuffer();
    stringRunOpen_ = false;
}

void EscapeSequenceParser::emptyApcBuffer()
{
    emptyStringBuffer(_apc, _apcLimitExceeded);
    _apcLimitExceeded = false;
}

size_t EscapeSequenceParser::consumeApcRun(std::span<const uint8_t> bytes, size_t index)
{
    const size_t length = bytes.size();
    size_t end = index;
    if (length - end >= ByteRunScanner::blockSize)
        end = ByteRunScanner::vectorScanC0(bytes, end);
    while (end < length && bytes[end] >= 0x20)
        ++end;
    if (!_apcLimitExceeded) {
        const size_t room = maximumApcBytes - _apc.size();
        const size_t count = end - index;
        _apc.insert(_apc.end(), bytes.begin() + static_cast<ptrdiff_t>(index),
                    bytes.begin() + static_cast<ptrdiff_t>(index + std::min(count, room)));
        _apcLimitExceeded = count > room;
    }
    stringRunOpen_ = end == length;
    return end;
}

void EscapeSequenceParser::endApc(uint8_t terminator, Scratch& scratch, ParserListener& listener)
{
    std::vector<uint8_t> taken;
    taken.swap(_apc);
    const bool limitExceeded = _apcLimitExceeded;
    _apcLimitExceeded = false;
    if (terminator != CAN && terminator != SUB && !limitExceeded && !taken.empty())
        listener.dispatchApc(taken[0], std::span<const uint8_t>(taken).subspan(1));
    restoreStringBuffer(_apc, taken, limitExceeded);
    if (terminator == ESC) {
        clearSequence(scratch);
        scratch.state = ParserState::escape;
    } else {
        scratch.state = ParserState::ground;
    }
}

// MARK: DCS

void EscapeSequenceParser::hookDcs(const Scratch& scratch, uint8_t finalByte, ParserListener& listener)
{
    activeDcsHandler.reset();
    if (scratch.parameterLimitExceeded || scratch.collect.overflowed)
        return;
    const CsiParameters parameters(scratch.pars);
    const auto collect = scratch.collect.span();
    std::shared_ptr<DcsHandler> handler;
    if (dcsHandlerFactory)
        handler = dcsHandlerFactory(collect, parameters);
    if (!handler)
        handler = listener.makeDcsHandler(collect, parameters, finalByte);
    if (!handler)
        return;
    activeDcsHandler = handler;
    handler->hook(collect, parameters, finalByte);
}

void EscapeSequenceParser::putDcs(std::span<const uint8_t> data)
{
    // A local reference keeps the handler alive if the call resets the parser.
    if (auto handler = activeDcsHandler)
        handler->put(data);
}

void EscapeSequenceParser::unhookDcs()
{
    auto handler = std::move(activeDcsHandler);
    if (handler)
        handler->unhook();
}

} // namespace kestrovan
