// The terminal's inner state as one value, for tests and diagnostics.
//
// Hosts read a terminal through its public readers and snapshots; what no host needs (the saved
// DEC modes, the conformance level, the charset slots, the erase cells, the input scanner, the
// kitty graphics store and the like) is gathered here by `Terminal::innerState`, so that a test can
// check the state a sequence left without the terminal growing a getter for each piece. Small state
// is copied; the large stores are pointed to, and those pointers are valid until the terminal next
// changes. Taking one needs the terminal lock, like every reader.
#pragma once

#include "Kestrovan/Attribute.h"
#include "Kestrovan/CharsetSlots.h"
#include "Kestrovan/CursorStyle.h"
#include "Kestrovan/PackedCell.h"
#include "Kestrovan/PayloadState.h"
#include "Kestrovan/Position.h"
#include "Kestrovan/SemanticContent.h"
#include "Kestrovan/SemanticInputScanner.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalVisibility.h"

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace kestrovan {

class EscapeSequenceParser;
class KittyClipboardProtocol;
struct KittyGraphicsState;

struct TerminalInnerState
{
    // Levels and saved modes.
    Terminal::TerminalConformance conformance = Terminal::TerminalConformance::vt500;
    /// Whether replies use 8-bit C1 introducers, and their bytes.
    Terminal::CC cc;
    Terminal::CharacterProtectionMode characterProtectionMode = Terminal::CharacterProtectionMode::off;
    Terminal::TerminalColorScheme colorScheme = Terminal::TerminalColorScheme::dark;
    /// The style DECSCUSR 0 restores.
    CursorStyle defaultCursorStyle = CursorStyle::blinkBlock;
    /// The DEC private modes CSI ? s saved, by number.
    std::map<int, bool> savedPrivateModes;
    /// The modes only remembered for DECRQM, and the DECSACE extent.
    Terminal::ReportedOnlyState reportedOnly;
    /// The kitty keyboard state of each screen.
    Terminal::KeyboardModeState keyboardModeNormal;
    Terminal::KeyboardModeState keyboardModeAlt;
    /// G0-G3, the invoked slot and the set in effect.
    CharsetSlots charsets;

    // The look of printed and erased cells.
    Attribute currentAttribute;
    /// The arena id printed cells get.
    uint16_t curStyleID = 0;
    /// The attribute erased cells get, and its packed empty and space cells.
    Attribute currentEraseAttribute;
    PackedCell currentEraseBlankCell;
    PackedCell currentEraseSpaceCell;

    // Printing and parsing.
    /// Bytes of an incomplete UTF-8 sequence carried to the next printed run.
    std::vector<uint8_t> readingBuffer;
    /// The OSC 8 link being printed, if any.
    std::optional<ActiveHyperlink> activeHyperlink;
    /// How deeply `feed` calls are nested (0 outside a feed).
    int parseDepth = 0;
    /// A scroll-position change waits for the outermost feed to end.
    bool hasPendingScrollNotification = false;
    const EscapeSequenceParser* parser = nullptr;

    // What the host gave, and the user's input.
    /// The pixel size the host last gave (or answered), for in-band size reports.
    std::optional<TerminalPixelGeometry> pixelGeometry;
    TerminalVisibility reportedVisibility = TerminalVisibility::potentiallyVisible;
    /// The force-touch stage and pressure of the current press, and where the press began.
    int pressureStage = 0;
    float pressure = 0;
    std::optional<Position> primaryPointerPressLocation;
    /// The selections registered (alive or not yet dropped), and how many of them are active.
    int registeredSelections = 0;
    int activeSelectionCount = 0;
    /// What the active buffer's prompt allows clicks to do.
    SemanticPromptClickMode semanticPromptClickMode;
    SemanticInputScanner semanticInputScanner;

    // The large stores, pointed to.
    /// The kitty images, placements and pending transfer of both screens.
    const KittyGraphicsState* kittyGraphics = nullptr;
    /// Whether either screen holds a kitty placement.
    bool hasKittyPlacements = false;
    /// Rises each time the kitty animation timer is scheduled.
    uint64_t kittyAnimationTimerSerial = 0;
    /// The payload atoms the cells hold.
    const PayloadState* payloads = nullptr;
    /// The clipboard protocol object, null until the first OSC 5522, mode 5522 or paste made it.
    const KittyClipboardProtocol* kittyClipboard = nullptr;
};

} // namespace kestrovan
