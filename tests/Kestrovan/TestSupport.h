// Small helpers shared by the engine's tests.
#pragma once

#include "Kestrovan/Buffer.h"
#include "Kestrovan/Diagnostics.h"
#include "Kestrovan/TerminalImage.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrovan::testing {

/// Changes part of a buffer's saved cursor and keeps the rest, as the resizes do.
inline void editSavedCursor(Buffer& buffer, const std::function<void(SavedCursor&)>& edit)
{
    SavedCursor saved = buffer.savedCursor();
    edit(saved);
    buffer.setSavedCursor(saved);
}

/// Collects every diagnostic line printed while the object lives.
class DiagnosticCapture
{
public:
    DiagnosticCapture()
    {
        previous_ = setDiagnosticSink([this](std::string_view line) { lines.emplace_back(line); });
    }
    ~DiagnosticCapture() { setDiagnosticSink(std::move(previous_)); }

    std::vector<std::string> lines;

private:
    std::function<void(std::string_view)> previous_;
};

/// Switches one mode a standalone buffer's print paths read, as a terminal's mode set would.
inline void setBufferMode(Buffer& buffer, bool BufferModeMirror::*mode, bool value)
{
    BufferModeMirror mirror = buffer.modeMirror();
    mirror.*mode = value;
    buffer.setModeMirror(mirror);
}

/// An image that only remembers its column.
class TestImage : public TerminalImage
{
public:
    int pixelWidth() const override { return 10; }
    int pixelHeight() const override { return 20; }
    int col() const override { return col_; }
    void setCol(int column) override { col_ = column; }

private:
    int col_ = 0;
};

} // namespace kestrovan::testing
