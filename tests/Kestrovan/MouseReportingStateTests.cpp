// The mouse-reporting state on its own: which events each tracking mode reports, and the bits a
// host reads. The reports' bytes are tested in TerminalMouseTests.
#include "Kestrovan/MouseReportingState.h"

#include <gtest/gtest.h>

namespace kestrovan {
namespace {

TEST(MouseReportingStateTests, WhatEachTrackingModeReportsAndTheHostBits)
{
    using State = MouseReportingState;
    struct Row
    {
        MouseMode mode;
        bool press, release, drag, motion;
    };
    const Row rows[] = {
        {MouseMode::off, false, false, false, false},
        {MouseMode::x10, true, false, false, false},
        {MouseMode::vt200, true, true, false, false},
        {MouseMode::buttonEventTracking, true, true, true, false},
        {MouseMode::anyEvent, true, true, true, true},
    };
    for (const Row& row : rows) {
        const int mode = static_cast<int>(row.mode);
        EXPECT_EQ(State::sendButtonPress(row.mode), row.press) << "mode " << mode;
        EXPECT_EQ(State::sendButtonRelease(row.mode), row.release) << "mode " << mode;
        EXPECT_EQ(State::sendsModifiers(row.mode), row.release) << "mode " << mode;
        EXPECT_EQ(State::sendButtonTracking(row.mode), row.drag) << "mode " << mode;
        EXPECT_EQ(State::sendMotionEvent(row.mode), row.motion) << "mode " << mode;
    }

    MouseReportingState state;
    EXPECT_EQ(state.hostBits(), 128u) << "power-on: nothing tracked, alternate scroll on";
    state.setMouseMode(MouseMode::buttonEventTracking);
    state.setMouseProtocol(MouseProtocolEncoding::urxvt);
    state.setMouseShiftCapture(true);
    state.setAlternateScrollMode(false);
    EXPECT_EQ(state.hostBits(), 3u | 3u << 3 | 64u);
}

} // namespace
} // namespace kestrovan
