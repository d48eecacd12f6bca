// Whole frames for the CPU drawing tests: a terminal fed with output, its snapshot refreshed as
// frame preparation refreshes it, and the frame drawn offscreen into a bitmap the size of the view.
#pragma once

#include "DrawingTestSupport.h"

#include "Kestrovan/Apple/FrameTestSupport.h"
#include "Kestrovan/Apple/TerminalFrameDrawer.h"
#include "Kestrovan/RecordingTerminalDelegate.h"

#include <gtest/gtest.h>
#include <string_view>

namespace drawing_test {

/// A terminal of `cols` x `rows` cells of 8 x 16 points (JetBrains Mono 12), drawn at `scale`.
struct FrameScene
{
    kestrovan::testing::TerminalFixture terminal;
    kestrovan::TerminalSnapshot snapshot;
    kestrovan::FrameViewState view;
    kestrovan::TerminalFrameDrawer drawer;
    double scale;

    FrameScene(int cols, int rows, double scale = 1.0)
        : terminal(cols, rows, 100), view(kestrovan::testing::viewState(cols, rows)), scale(scale)
    {
        view.appearance.effectiveForegroundColor = kestrovan::FrameColor{0.1, 0.1, 0.12, 1};
        view.appearance.effectiveBackgroundColor = kestrovan::FrameColor{0.98, 0.97, 0.93, 1};
        view.appearance.caretColor = kestrovan::FrameColor{0.85, 0.3, 0.2, 1};
        view.appearance.caretTextColor = kestrovan::FrameColor{1, 1, 1, 1};
        // A GPU renderer draws at the frame's rendering scale; the CPU path at its canvas's.
        view.renderingScale = scale;
        view.imageScale = scale;
    }

    void feed(std::string_view text) { terminal.t().feed(text); }

    void refresh(const kestrovan::SnapshotSelectionState& selection = {})
    {
        kestrovan::testing::refresh(snapshot, terminal.t(), view, selection);
    }

    platform::Rect bounds() const { return view.viewBounds; }

    /// A surface the size of the view with the frame's `dirty` part drawn on it.
    void draw(Surface& surface, const platform::Rect& dirty)
    {
        drawer.drawFrame(*surface.canvas, dirty, snapshot, *snapshot.renderContext,
                         kestrovan::FrameDrawGeometry::of(view));
    }
    Surface draw()
    {
        Surface surface(int(bounds().width * scale), int(bounds().height * scale), scale);
        draw(surface, bounds());
        return surface;
    }

    /// The frame over the view's background colour, as the view shows it (the frame leaves cells
    /// of the default background clear, for the view's own background to show through).
    Surface shown()
    {
        Surface frame = draw();
        Surface out(frame.bitmap.width(), frame.bitmap.height(), scale);
        out.canvas->setFillColor(view.appearance.effectiveBackgroundColor.nativeColor());
        out.canvas->fillRect(bounds());
        out.canvas->drawImage(frame.bitmap.makeImage(), bounds(), platform::ImageInterpolation::none);
        return out;
    }
};

} // namespace drawing_test
