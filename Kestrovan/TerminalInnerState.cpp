// The terminal's inner state as one value (TerminalInnerState.h).
#include "Kestrovan/TerminalInnerState.h"

namespace kestrovan {

TerminalInnerState Terminal::innerState() const
{
    TerminalInnerState state;
    state.conformance = conformance_;
    state.cc = cc_;
    state.characterProtectionMode = characterProtectionMode_;
    state.colorScheme = colorScheme_;
    state.defaultCursorStyle = defaultCursorStyle_;
    state.savedPrivateModes = savedPrivateModes_;
    state.reportedOnly = reportedOnly_;
    state.keyboardModeNormal = keyboardModeNormal_;
    state.keyboardModeAlt = keyboardModeAlt_;
    state.charsets = charsets_;

    state.currentAttribute = currentAttribute();
    state.curStyleID = curStyleID_;
    state.currentEraseAttribute = currentEraseAttribute();
    state.currentEraseBlankCell = currentEraseBlankCell();
    state.currentEraseSpaceCell = currentEraseSpaceCell();

    state.readingBuffer = readingBuffer_.putbackBuffer;
    state.activeHyperlink = activeHyperlink_;
    state.parseDepth = parseDepth_;
    state.hasPendingScrollNotification = hasPendingScrollNotification_;
    state.parser = parser_.get();

    state.pixelGeometry = pixelGeometry_;
    state.reportedVisibility = reportedVisibility_;
    state.pressureStage = pressureStage_;
    state.pressure = pressure_;
    state.primaryPointerPressLocation = primaryPointerPressLocation_;
    state.registeredSelections = static_cast<int>(selections_.size());
    state.activeSelectionCount = activeSelectionCount_;
    state.semanticPromptClickMode = semanticPromptClickMode();
    state.semanticInputScanner = semanticInputScanner_;

    state.kittyGraphics = &kittyGraphicsState();
    state.hasKittyPlacements = hasKittyPlacements_;
    state.kittyAnimationTimerSerial = kittyAnimationTimerSerial_;
    state.payloads = &payloads_;
    state.kittyClipboard = kittyClipboardProtocol_.get();
    return state;
}

} // namespace kestrovan
