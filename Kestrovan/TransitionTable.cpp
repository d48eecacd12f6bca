#include "Kestrovan/TransitionTable.h"

namespace kestrovan {

void TransitionTable::add(uint8_t byte, ParserState state, ParserAction action, ParserState next)
{
    table[index(state, byte)] =
        static_cast<uint8_t>(static_cast<uint8_t>(action) << 4 | static_cast<uint8_t>(next));
}

void TransitionTable::addRange(uint8_t first, uint8_t last, ParserState state, ParserAction action,
                               ParserState next)
{
    for (unsigned byte = first; byte <= last; ++byte)
        add(static_cast<uint8_t>(byte), state, action, next);
}

const TransitionTable& TransitionTable::shared()
{
    static const TransitionTable table = buildVt500TransitionTable();
    return table;
}

TransitionTable buildVt500TransitionTable()
{
    using S = ParserState;
    using A = ParserAction;
    TransitionTable t;

    // Rows shared by every state but `programStatusEscape`. The string states override a few of
    // them below; writing the shared rows first lets the overrides simply win.
    for (unsigned raw = 0; raw < static_cast<unsigned>(S::programStatusEscape); ++raw) {
        const auto state = static_cast<S>(raw);
        t.add(0x19, state, A::error, S::ground);
        t.add(0x1A, state, A::execute, S::ground); // SUB cancels the sequence
        t.add(0x1B, state, A::clear, S::escape);
        t.addRange(0x80, 0x8F, state, A::execute, S::ground);
        t.addRange(0x91, 0x97, state, A::execute, S::ground);
        t.add(0x99, state, A::execute, S::ground);
        t.add(0x9A, state, A::execute, S::ground);
        t.add(0x90, state, A::clear, S::dcsEntry);        // DCS
        t.add(0x98, state, A::ignore, S::sosPmApcString); // SOS
        t.add(0x9E, state, A::ignore, S::sosPmApcString); // PM
        t.add(0x9B, state, A::clear, S::csiEntry);        // CSI
        t.add(0x9C, state, A::ignore, S::ground);         // ST
        t.add(0x9D, state, A::stringStart, S::oscString); // OSC
        t.add(0x9F, state, A::stringStart, S::apcString); // APC
        t.add(0xA0, state, A::error, S::ground);
    }

    // C0 controls other than the shared 0x19-0x1B.
    auto addControls = [&t](S state, A action, S next) {
        t.addRange(0x00, 0x18, state, action, next);
        t.addRange(0x1C, 0x1F, state, action, next);
    };

    // Ground: the parse loop prints every byte at or above 0x20 without looking here; the print
    // entries describe the same thing for completeness.
    addControls(S::ground, A::execute, S::ground);
    t.addRange(0x20, 0x7E, S::ground, A::print, S::ground);
    t.add(0x7F, S::ground, A::error, S::ground);

    addControls(S::escape, A::execute, S::escape);
    t.addRange(0x20, 0x2F, S::escape, A::collect, S::escapeIntermediate);
    t.addRange(0x30, 0x7E, S::escape, A::escDispatch, S::ground);
    t.add(0x50, S::escape, A::clear, S::dcsEntry);        // ESC P: DCS
    t.add(0x58, S::escape, A::ignore, S::sosPmApcString); // ESC X: SOS
    t.add(0x5E, S::escape, A::ignore, S::sosPmApcString); // ESC ^: PM
    t.add(0x5B, S::escape, A::clear, S::csiEntry);        // ESC [: CSI
    t.add(0x5D, S::escape, A::stringStart, S::oscString); // ESC ]: OSC
    t.add(0x5F, S::escape, A::stringStart, S::apcString); // ESC _: APC
    t.add(0x7F, S::escape, A::ignore, S::escape);

    addControls(S::escapeIntermediate, A::execute, S::escapeIntermediate);
    t.addRange(0x20, 0x2F, S::escapeIntermediate, A::collect, S::escapeIntermediate);
    t.addRange(0x30, 0x7E, S::escapeIntermediate, A::escDispatch, S::ground);
    t.add(0x7F, S::escapeIntermediate, A::ignore, S::escapeIntermediate);

    addControls(S::csiEntry, A::execute, S::csiEntry);
    t.addRange(0x20, 0x2F, S::csiEntry, A::collect, S::csiIntermediate);
    t.addRange(0x30, 0x39, S::csiEntry, A::parameter, S::csiParam);
    t.add(0x3A, S::csiEntry, A::error, S::ground);
    t.add(0x3B, S::csiEntry, A::parameter, S::csiParam);
    t.addRange(0x3C, 0x3F, S::csiEntry, A::collect, S::csiParam); // private markers
    t.addRange(0x40, 0x7E, S::csiEntry, A::csiDispatch, S::ground);
    t.add(0x7F, S::csiEntry, A::ignore, S::csiEntry);

    addControls(S::csiParam, A::execute, S::csiParam);
    t.addRange(0x20, 0x2F, S::csiParam, A::collect, S::csiIntermediate);
    t.addRange(0x30, 0x3B, S::csiParam, A::parameter, S::csiParam);
    t.addRange(0x3C, 0x3F, S::csiParam, A::ignore, S::csiIgnore);
    t.addRange(0x40, 0x7E, S::csiParam, A::csiDispatch, S::ground);
    t.add(0x7F, S::csiParam, A::ignore, S::csiParam);

    addControls(S::csiIntermediate, A::execute, S::csiIntermediate);
    t.addRange(0x20, 0x2F, S::csiIntermediate, A::collect, S::csiIntermediate);
    t.addRange(0x30, 0x3F, S::csiIntermediate, A::ignore, S::csiIgnore);
    t.addRange(0x40, 0x7E, S::csiIntermediate, A::csiDispatch, S::ground);
    t.add(0x7F, S::csiIntermediate, A::ignore, S::csiIntermediate);

    addControls(S::csiIgnore, A::execute, S::csiIgnore);
    t.addRange(0x20, 0x3F, S::csiIgnore, A::ignore, S::csiIgnore);
    t.addRange(0x40, 0x7E, S::csiIgnore, A::ignore, S::ground);
    t.add(0x7F, S::csiIgnore, A::ignore, S::csiIgnore);

    addControls(S::sosPmApcString, A::ignore, S::sosPmApcString);
    t.addRange(0x20, 0x7F, S::sosPmApcString, A::ignore, S::sosPmApcString);

    // OSC and APC payloads: BEL, CAN, SUB and ESC end the string, other controls are ignored, and
    // every byte from 0x80 up is payload (UTF-8 text), not a C1 control (see below).
    for (S state : {S::oscString, S::apcString}) {
        addControls(state, A::ignore, state);
        t.add(0x07, state, A::stringEnd, S::ground);
        t.add(0x18, state, A::stringEnd, S::ground);
        t.add(0x1A, state, A::stringEnd, S::ground);
        t.add(0x1B, state, A::stringEnd, S::ground);
        t.addRange(0x20, 0x7F, state, A::stringPut, state);
        t.add(0x9C, state, A::stringPut, state);
        t.add(0xA0, state, A::stringPut, state);
    }

    addControls(S::dcsEntry, A::ignore, S::dcsEntry);
    t.addRange(0x20, 0x2F, S::dcsEntry, A::collect, S::dcsIntermediate);
    t.addRange(0x30, 0x39, S::dcsEntry, A::parameter, S::dcsParam);
    t.add(0x3A, S::dcsEntry, A::ignore, S::dcsIgnore);
    t.add(0x3B, S::dcsEntry, A::parameter, S::dcsParam);
    t.addRange(0x3C, 0x3F, S::dcsEntry, A::collect, S::dcsParam);
    t.addRange(0x40, 0x7E, S::dcsEntry, A::dcsHook, S::dcsPassthrough);
    t.add(0x7F, S::dcsEntry, A::ignore, S::dcsEntry);

    addControls(S::dcsParam, A::ignore, S::dcsParam);
    t.addRange(0x20, 0x2F, S::dcsParam, A::collect, S::dcsIntermediate);
    t.addRange(0x30, 0x39, S::dcsParam, A::parameter, S::dcsParam);
    t.add(0x3A, S::dcsParam, A::ignore, S::dcsIgnore);
    t.add(0x3B, S::dcsParam, A::parameter, S::dcsParam);
    t.addRange(0x3C, 0x3F, S::dcsParam, A::ignore, S::dcsIgnore);
    t.addRange(0x40, 0x7E, S::dcsParam, A::dcsHook, S::dcsPassthrough);
    t.add(0x7F, S::dcsParam, A::ignore, S::dcsParam);

    addControls(S::dcsIgnore, A::ignore, S::dcsIgnore);
    t.addRange(0x20, 0x7F, S::dcsIgnore, A::ignore, S::dcsIgnore);

    addControls(S::dcsIntermediate, A::ignore, S::dcsIntermediate);
    t.addRange(0x20, 0x2F, S::dcsIntermediate, A::collect, S::dcsIntermediate);
    t.addRange(0x30, 0x3F, S::dcsIntermediate, A::ignore, S::dcsIgnore);
    t.addRange(0x40, 0x7E, S::dcsIntermediate, A::dcsHook, S::dcsPassthrough);
    t.add(0x7F, S::dcsIntermediate, A::ignore, S::dcsIntermediate);

    addControls(S::dcsPassthrough, A::dcsPut, S::dcsPassthrough);
    t.addRange(0x20, 0x7E, S::dcsPassthrough, A::dcsPut, S::dcsPassthrough);
    t.add(0x7F, S::dcsPassthrough, A::ignore, S::dcsPassthrough); // DEL is dropped from the payload
    t.add(0x1B, S::dcsPassthrough, A::dcsUnhook, S::ground);
    t.add(0x9C, S::dcsPassthrough, A::dcsUnhook, S::ground);

    // Inside a control sequence or a string, the bytes 0x80-0x9F are not C1 controls: in UTF-8 they
    // are continuation bytes (U+061B is D8 9B), so a title, a DCS reply or a PM comment must not
    // start a new sequence halfway, and the program's reply must not depend on where its text
    // happens to hold such a byte. Only 0x9C keeps its meaning as the 8-bit string terminator,
    // where the string has one (the OSC reader still tells it from a UTF-8 continuation). Ground,
    // ESC and its intermediates keep the shared rows above.
    for (S state : {S::csiEntry, S::csiParam, S::csiIntermediate})
        t.addRange(0x80, 0x9F, state, A::error, S::ground); // as any other high byte there
    t.addRange(0x80, 0x9F, S::csiIgnore, A::ignore, S::csiIgnore);
    for (S state : {S::oscString, S::apcString})
        t.addRange(0x80, 0x9F, state, A::stringPut, state);
    for (S state : {S::dcsEntry, S::dcsParam, S::dcsIntermediate, S::dcsIgnore}) {
        // A DCS whose header holds such a byte is ignored up to its terminator.
        t.addRange(0x80, 0x9B, state, A::ignore, S::dcsIgnore);
        t.addRange(0x9D, 0x9F, state, A::ignore, S::dcsIgnore);
    }
    t.addRange(0x80, 0x9B, S::dcsPassthrough, A::dcsPut, S::dcsPassthrough);
    t.addRange(0x9D, 0x9F, S::dcsPassthrough, A::dcsPut, S::dcsPassthrough);
    // SOS, PM and APC strings the terminal does not read are skipped whole, UTF-8 text included.
    t.addRange(0x80, 0x9B, S::sosPmApcString, A::ignore, S::sosPmApcString);
    t.addRange(0x9D, 0xA0, S::sosPmApcString, A::ignore, S::sosPmApcString);

    // After ESC inside a program-status OSC every byte goes to the ESC-dispatch action, which
    // either completes the OSC ("\") or drops it and reprocesses the byte in `escape`.
    t.addRange(0x00, 0xA0, S::programStatusEscape, A::escDispatch, S::ground);

    return t;
}

} // namespace kestrovan
