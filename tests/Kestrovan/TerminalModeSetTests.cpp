// The mode table: its power-on values, and the copies of the mirrored modes and the bidi state in
// both screen buffers, which must equal the terminal's own values after any change, made by any
// path: a sequence, a reset, a cursor restore, a screen switch, a resize or a rebuilt buffer.
#include "RecordingTerminalDelegate.h"

#include "Kestrovan/TerminalModeSet.h"

#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

namespace kestrovan::testing {
namespace {

std::string describeMirror(const BufferModeMirror& mirror)
{
    return "insert=" + std::to_string(mirror.insertMode) +
           " protection=" + std::to_string(mirror.characterProtection) +
           " margin=" + std::to_string(mirror.marginMode) + " wrap=" + std::to_string(mirror.wraparound);
}

/// "" when both buffers' copies equal the terminal's values, else what differs.
std::string mirrorDisagreement(Terminal& t)
{
    const BufferModeMirror expected = t.modes().bufferModeMirror();
    std::string out;
    const std::pair<const char*, const Buffer*> buffers[] = {
        {"normal", &t.buffer(Terminal::BufferKind::normal)},
        {"alternate", &t.buffer(Terminal::BufferKind::alt)}};
    for (const auto& [name, buffer] : buffers) {
        if (buffer->modeMirror() != expected)
            out += std::string(name) + " has " + describeMirror(buffer->modeMirror()) + ", the terminal " +
                   describeMirror(expected) + "; ";
        if (buffer->bulkInsertBlocked() != (expected.insertMode || expected.characterProtection))
            out += std::string(name) + " blocks its bulk paths wrongly; ";
        if (buffer->defaultBidiState() != t.currentBidiState())
            out += std::string(name) + " has another default bidi state; ";
    }
    return out;
}

TEST(TerminalModeSetTests, PowerOnValuesAndMirroringIntoAttachedBuffers)
{
    TerminalModeSet modes;
    for (size_t index = 0; index < terminalModeCount; ++index) {
        const auto mode = static_cast<TerminalMode>(index);
        EXPECT_EQ(modes[mode], mode == TerminalMode::sendReceiveMode) << "mode " << index;
    }
    // Nothing attached yet: setting a mirrored mode only stores it.
    modes.set(TerminalMode::wraparound, true);

    Buffer normal(10, 3, 8, 100, BidiPresentationState());
    Buffer alternate(10, 3, 8, std::nullopt, BidiPresentationState());
    modes.attachBuffers(normal, alternate);
    EXPECT_TRUE(normal.wraparound() && alternate.wraparound()) << "attaching copies the current values";

    for (const TerminalMode mode : {TerminalMode::insertMode, TerminalMode::characterProtection,
                                    TerminalMode::marginMode, TerminalMode::wraparound}) {
        ASSERT_TRUE(TerminalModeSet::isMirrored(mode));
        for (const bool value : {true, false, true}) {
            modes.set(mode, value);
            EXPECT_EQ(normal.modeMirror(), modes.bufferModeMirror())
                << "mode " << int(mode) << " = " << value;
            EXPECT_EQ(alternate.modeMirror(), modes.bufferModeMirror());
        }
    }
    EXPECT_TRUE(normal.bulkInsertBlocked()) << "insert mode or protection blocks the bulk paths";
    modes.set(TerminalMode::insertMode, false);
    modes.set(TerminalMode::characterProtection, false);
    EXPECT_FALSE(normal.bulkInsertBlocked() || alternate.bulkInsertBlocked());

    const BufferModeMirror before = normal.modeMirror();
    modes.set(TerminalMode::originMode, true);
    EXPECT_FALSE(TerminalModeSet::isMirrored(TerminalMode::originMode));
    EXPECT_EQ(normal.modeMirror(), before) << "a mode the buffers do not read stays in the table";

    const BidiPresentationState rightToLeft(BidiSupportMode::explicit_, false, BidiDirection::rightToLeft,
                                            true);
    modes.setBidiState(rightToLeft);
    EXPECT_EQ(normal.defaultBidiState(), rightToLeft);
    EXPECT_EQ(alternate.defaultBidiState(), rightToLeft);

    // A replaced buffer gets the current values when the new pair is attached.
    Buffer rebuilt(10, 3, 8, 100, BidiPresentationState());
    modes.attachBuffers(rebuilt, alternate);
    EXPECT_EQ(rebuilt.modeMirror(), modes.bufferModeMirror());
    EXPECT_EQ(rebuilt.defaultBidiState(), rightToLeft);
}

/// One way a program or host changes modes.
struct Change
{
    const char* label;
    std::function<void(Terminal&)> apply;
};

std::vector<Change> changes()
{
    const auto feed = [](const char* bytes) { return [bytes](Terminal& t) { t.feed(bytes); }; };
    return {
        {"IRM on", feed("\x1b[4h")},
        {"IRM off", feed("\x1b[4l")},
        {"DECSCA on", feed("\x1b[1\"q")},
        {"DECSCA off", feed("\x1b[0\"q")},
        {"SPA", feed("\x1bV")},
        {"EPA", feed("\x1bW")},
        {"DECLRMM on", feed("\x1b[?69h\x1b[2;7s")},
        {"DECLRMM off", feed("\x1b[?69l")},
        {"DECAWM off", feed("\x1b[?7l")},
        {"DECAWM on", feed("\x1b[?7h")},
        {"XTSAVE, change, XTRESTORE", feed("\x1b[?7s\x1b[?7l\x1b[?7r")},
        {"BDSM reset", feed("\x1b[8l")},
        {"BDSM set", feed("\x1b[8h")},
        {"box mirroring", feed("\x1b[?2500h")},
        {"no direction autodetection", feed("\x1b[?2501l")},
        {"SCP right to left", feed("\x1b[2 k")},
        {"SPD left to right", feed("\x1b[0 S")},
        {"DECSC", feed("\x1b"
                       "7")},
        {"DECRC", feed("\x1b"
                       "8")},
        {"SCOSC and SCORC", feed("\x1b[s\x1b[4h\x1b[1\"q\x1b[u")},
        {"alternate screen with saved cursor", feed("\x1b[?1049h")},
        {"back from the alternate screen", feed("\x1b[?1049l")},
        {"mode 47 on", feed("\x1b[?47h")},
        {"mode 47 off", feed("\x1b[?47l")},
        {"mode 1047 on and off", feed("\x1b[?1047h\x1b[4h\x1b[?1047l")},
        {"DECCOLM", feed("\x1b[?40h\x1b[?3h")},
        {"DECSTR", feed("\x1b[!p")},
        {"RIS", feed("\x1b"
                     "c")},
        {"host resize", [](Terminal& t) { t.resize(t.cols() == 12 ? 9 : 12, t.rows() == 5 ? 4 : 5); }},
        {"screen switch back and forth, clearing the alternate one",
         [](Terminal& t) {
             if (t.isCurrentBufferAlternate())
                 t.feed("\x1b[?1047l");
             else
                 t.feed("\x1b[?47h");
         }},
    };
}

TEST(TerminalModeSetTests, BuffersAgreeWithTheTerminalAfterEveryKindOfChange)
{
    const std::vector<Change> all = changes();

    // Each change once, in order, on one terminal whose modes pile up.
    TerminalFixture fixture(10, 4);
    Terminal& t = fixture.t();
    ASSERT_EQ(mirrorDisagreement(t), "") << "after construction";
    for (const Change& change : all) {
        change.apply(t);
        EXPECT_EQ(mirrorDisagreement(t), "") << "after " << change.label;
    }

    // Then a seeded random walk over the same changes, with text printed between them.
    std::mt19937 random(2024);
    TerminalFixture walk(10, 4);
    Terminal& w = walk.t();
    std::string trail;
    for (int step = 0; step < 2000; ++step) {
        const Change& change = all[std::uniform_int_distribution<size_t>(0, all.size() - 1)(random)];
        trail += std::string(change.label) + ", ";
        change.apply(w);
        w.feed("ab\xe4\xb8\x80");
        const std::string disagreement = mirrorDisagreement(w);
        ASSERT_EQ(disagreement, "") << "step " << step << " after " << trail;
        if (trail.size() > 400)
            trail.erase(0, trail.size() - 400);
    }
}

} // namespace
} // namespace kestrovan::testing
