#include "Kestrovan/EscapeSequenceParser.h"

#include "Kestrovan/ByteRunScanner.h"
#include "Kestrovan/Diagnostics.h"
#include "Kestrovan/EscapeSequenceParserLoop.h"
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
using parserLoop::ESC;
using parserLoop::isDigit;
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

template void EscapeSequenceParser::parseBorrowedDirect<ParserListener>(std::span<const uint8_t>,
                                                                        ParserListener&);

void EscapeSequenceParser::parseBorrowed(std::span<const uint8_t> bytes, ParserListener& listener)
{
    parseBorrowedDirect(bytes, listener);
}

platform::SignpostID EscapeSequenceParser::beginParseSignpost() const
{
    const platform::SignpostID signpost = parserProfileLog().makeSignpostID();
    parserProfileLog().signpostBegin("Parser.Parse", signpost);
    return signpost;
}

void EscapeSequenceParser::endParseSignpost(platform::SignpostID signpost) const
{
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
