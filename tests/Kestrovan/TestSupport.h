// Small helpers shared by the engine's tests.
#pragma once

#include "Kestrovan/Buffer.h"
#include "Kestrovan/Diagnostics.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalImage.h"

#include <cstdint>
#include <functional>
#include <span>
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

/// An OSC 133 (shell integration) sequence with the given payload.
inline std::string osc133(std::string_view payload)
{
    return "\x1b]133;" + std::string(payload) + "\x07";
}

/// An OSC 8 (hyperlink) sequence with the given payload.
inline std::string osc8(std::string_view payload)
{
    return "\x1b]8;" + std::string(payload) + "\x1b\\";
}

/// The bytes of a text, as a view for the byte-taking entry points.
inline std::span<const uint8_t> bytesOf(std::string_view text)
{
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

/// The bytes of a text, as an owned copy.
inline std::vector<uint8_t> bytes(std::string_view text)
{
    return {text.begin(), text.end()};
}

/// The packed cell at a column of a visible row.
inline PackedCell packedAt(Terminal& t, int col, int row)
{
    return t.getLine(row)->packed(col);
}

} // namespace kestrovan::testing
