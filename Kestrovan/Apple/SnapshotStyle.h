// The selection and link-highlight style of one frame, captured with its snapshot so that
// renderers and the row builders read it without the terminal lock.
#pragma once

#include "Kestrovan/LinkMatch.h"
#include "Kestrovan/Position.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace kestrovan {

class SelectionService;

/// When a link under the pointer, or every link, is underlined.
enum class LinkHighlightMode : uint8_t
{
    hover,
    hoverWithModifier,
    always,
    alwaysWithModifier,
};

/// A frame's selection as a value.
struct SnapshotSelectionState
{
    bool active = false;
    Position start;
    Position end;
    bool isBlock = false;

    /// Inactive at (0,0)-(0,0).
    SnapshotSelectionState() = default;
    /// The selection's state; the calling thread must hold its terminal's lock (else the program
    /// stops). A null selection gives the inactive state.
    explicit SnapshotSelectionState(const SelectionService* selection);

    friend bool operator==(const SnapshotSelectionState&, const SnapshotSelectionState&) = default;
};

struct SnapshotStyle
{
    bool selectionActive = false;
    Position selectionStart;
    Position selectionEnd;
    bool selectionIsBlock = false;
    /// The rows and columns of the highlighted link; absent for none (which differs from empty).
    std::optional<std::vector<LinkMatch::RowRange>> linkHighlightRange;
    LinkHighlightMode linkHighlightMode = LinkHighlightMode::hover;
    bool commandActive = false;
    bool textBlinkVisible = true;
    bool enableOsc8Hyperlinks = true;

    /// Field-by-field equality of all nine fields.
    bool hasSameValue(const SnapshotStyle& other) const { return *this == other; }

    friend bool operator==(const SnapshotStyle&, const SnapshotStyle&) = default;
};

} // namespace kestrovan
