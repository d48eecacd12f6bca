// The terminal's state: construction, setup and teardown, buffer switching, the palette and colour
// setters, the mode mirrors, focus and visibility reports, pointer press, the selection registry
// and the cell accessors. The handler families live in the files listed in Terminal.h.
#include "Kestrovan/Terminal.h"

#include "Kestrovan/Diagnostics.h"
#include "Kestrovan/KittyClipboardGrants.h"
#include "Kestrovan/KittyClipboardProtocol.h"
#include "Kestrovan/SelectionService.h"
#include "Kestrovan/TerminalDelegate.h"
#include "Kestrovan/Utf8.h"

#include <algorithm>
#include <chrono>

namespace kestrovan {

namespace {

// The clock the clipboard protocol stamps its transactions with: monotonic uptime.
uint64_t monotonicNanoseconds()
{
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

} // namespace

Terminal::Terminal(const std::shared_ptr<TerminalDelegate>& delegate, const TerminalOptions& options)
    : cellArena(
          std::make_shared<CellArena>(CellArena::defaultStyleCapacity, CellArena::defaultGraphemeCapacity)),
      tdel(delegate), _options(options)
{
    // The palette depends on the strategy in the options, so they are stored first.
    const auto& appColors = Color::terminalAppColors();
    installedColors.assign(appColors.begin(), appColors.end());
    defaultAnsiColors = buildAnsiPalette();
    ansiColors = defaultAnsiColors;

    defaultCursorStyle = _options.cursorStyle;
    _currentBidiState = _options.initialBidiState;
    bidiArrowKeySwap = _options.initialBidiArrowKeySwap;
    kittyClipboardTokenGenerator = [] { return KittyClipboardTokenGenerator::generate(); };
    kittyClipboardClock = monotonicNanoseconds;

    parser = std::make_unique<EscapeSequenceParser>(
        static_cast<size_t>(std::max<int64_t>(_options.maximumOscBytes, 0)));

    // The buffers are built at the options' size rather than at 80 x 25 and then resized, which
    // saves building and reflowing rows that would be thrown away at once.
    _cols = std::max(_options.cols, MINIMUM_COLS);
    _rows = std::max(_options.rows, MINIMUM_ROWS);
    normalBuffer = makeBuffer(std::max(_options.scrollback, 0));
    normalBuffer->fillViewportRows();
    altBuffer = makeBuffer(std::nullopt);

    _buffer = normalBuffer;
    cc.send8bit = false;
    normalBuffer->setupTabStops(-1, tabStopWidth);
    altBuffer->setupTabStops(-1, tabStopWidth);

    setup(false);
}

std::shared_ptr<Terminal> Terminal::create(const std::shared_ptr<TerminalDelegate>& delegate,
                                           const TerminalOptions& options)
{
    return std::make_shared<Terminal>(delegate, options);
}

Terminal::~Terminal()
{
    if (kittyClipboardProtocol)
        kittyClipboardProtocol->terminalDestroyed();
    payloads.releaseAll();
    // Lines may outlive their buffers (render snapshots keep them); they must not call back here.
    if (normalBuffer)
        normalBuffer->terminal = nullptr;
    if (altBuffer)
        altBuffer->terminal = nullptr;
}

std::shared_ptr<Buffer> Terminal::makeBuffer(std::optional<int> scrollback)
{
    auto made =
        std::make_shared<Buffer>(_cols, _rows, tabStopWidth, scrollback, _currentBidiState, cellArena);
    made->terminal = this;
    return made;
}

void Terminal::setup(bool isReset)
{
    _cols = std::max(_options.cols, MINIMUM_COLS);
    _rows = std::max(_options.rows, MINIMUM_ROWS);

    if (isReset) {
        if (programStatusStore.clear("")) {
            if (auto host = delegate())
                host->programStatusChanged(*this, programStatusRecords());
        }
        resetNormalBuffer();
        activateNormalBuffer(false);
        // A full reset homes the cursor. Switching from the old buffer copies the alternate
        // buffer's cursor, which is only meaningful when that buffer was the one in use.
        normalBuffer->setX(0);
        normalBuffer->setY(0);
        kittyGraphicsState.activeIsAlternate = true;
        removePlacementRecords();
        cleanupUnusedKittyImages();
        kittyGraphicsState.activeIsAlternate = isCurrentBufferAlternate();
        altBuffer->clear();
        resetSemanticPromptState(true);
    } else {
        normalBuffer->resize(_cols, _rows);
        altBuffer->resize(_cols, _rows);
    }

    cursorHidden = false;
    applicationKeypad = false;
    applicationCursor = false;
    keyboardActionMode = false;
    sendReceiveMode = true;
    backarrowKeyMode = false;

    if (reverseColors) {
        reverseColors = false;
        updateFullScreen();
        if (auto host = delegate())
            host->colorChanged(*this, std::nullopt);
    }

    originMode = false;
    marginMode = false;
    normalBuffer->marginMode = false;
    altBuffer->marginMode = false;
    setInsertMode(false);
    characterProtectionMode = CharacterProtectionMode::off;
    setCharacterProtection(false);
    wraparound = true;
    normalBuffer->wraparound = true;
    altBuffer->wraparound = true;

    // Each mode is switched off through its own handler so that its switching-off effects run.
    applyDECPrivateMode(2004, false);
    alternateScrollMode = true;
    for (int mode : {2026, 2031, 2033, 2048, 5522})
        applyDECPrivateMode(mode, false);

    reportedOnly = ReportedOnlyState();

    if (isReset) {
        savedPrivateModes.clear();
        if (kittyClipboardProtocol)
            kittyClipboardProtocol->clear();
    }

    keyboardModeNormal = KeyboardModeState();
    keyboardModeAlt = KeyboardModeState();

    gCharsets.fill(nullptr);
    charset = gCharsets[0];
    gcharset = 0;
    gLevel = 0;

    if (curAttr != Attribute()) {
        const Attribute old = curAttr;
        curAttr = Attribute();
        curStyleID = _buffer->cellArena()->intern(curAttr).value_or(0);
        if (!old.bg.isDefault()) {
            currentEraseAttribute = Attribute();
            rebuildEraseCells(curStyleID);
        }
    }

    setMouseMode(MouseMode::off);
    mouseShiftCapture = false;

    _buffer->setScrollTop(0);
    _buffer->setScrollBottom(_rows - 1);
    _buffer->setMarginLeft(0);
    _buffer->setMarginRight(_cols - 1);

    cc.send8bit = false;
    conformance = TerminalConformance::vt500;
    allow80To132 = false;
    noClearOnColumnChange = false;
    xtermTitleSetUtf = false;
    xtermTitleSetHex = false;
    xtermTitleQueryUtf = false;
    xtermTitleQueryHex = false;
    activeHyperlink.reset();
    cursorBlink = false;
    hostCurrentDirectory.reset();
    lineFeedMode = _options.convertEol;
}

void Terminal::rebuildEraseCells(uint16_t eraseStyleID)
{
    currentEraseBlankCell =
        PackedCell::makeScalar(0, eraseStyleID, PackedCell::WidthState::single, false, 0, 0);
    currentEraseSpaceCell =
        PackedCell::makeScalar(' ', eraseStyleID, PackedCell::WidthState::single, false, 0, 0);
}

// --- Buffers -----------------------------------------------------------------------------------

void Terminal::resetNormalBuffer()
{
    normalBuffer = makeBuffer(std::max(_options.scrollback, 0));
    normalBuffer->fillViewportRows();
    normalBuffer->setupTabStops(-1, tabStopWidth);
}

void Terminal::activateNormalBuffer(bool clearAlt)
{
    if (_buffer == normalBuffer)
        return;
    semanticNoteAlternateScreenSwitch();
    resizeNormalBufferToCurrentGridIfNeeded();
    // The cursor carries over from the screen that was in use.
    if (altBuffer->x() >= 0)
        normalBuffer->setX(altBuffer->x());
    if (altBuffer->y() >= 0)
        normalBuffer->setY(std::min(altBuffer->y(), normalBuffer->rows() - 1));
    if (clearAlt) {
        kittyGraphicsState.activeIsAlternate = true;
        removePlacementRecords();
        cleanupUnusedKittyImages();
        kittyGraphicsState.activeIsAlternate = isCurrentBufferAlternate();
        altBuffer->clear();
    }
    _buffer = normalBuffer;
    kittyGraphicsState.activeIsAlternate = false;
    scheduleKittyAnimationTimer();
}

void Terminal::activateAltBuffer(const std::optional<Attribute>& fillAttr)
{
    if (_buffer == altBuffer)
        return;
    semanticNoteAlternateScreenSwitch();
    if (normalBuffer->x() >= 0)
        altBuffer->setX(normalBuffer->x());
    if (normalBuffer->y() >= 0)
        altBuffer->setY(std::min(normalBuffer->y(), altBuffer->rows() - 1));
    altBuffer->fillViewportRows(fillAttr);
    _buffer = altBuffer;
    kittyGraphicsState.activeIsAlternate = true;
    removePlacementRecords();
    cleanupUnusedKittyImages();
    kittyGraphicsState.activeIsAlternate = isCurrentBufferAlternate();
    scheduleKittyAnimationTimer();
}

void Terminal::resizeNormalBufferKeepingSavedRow(int newColumns, int newRows)
{
    Buffer& normal = *normalBuffer;
    const int oldCols = normal.cols();
    // The saved row keeps its distance from the cursor row, which the resize may move.
    const int distance = normal.savedY - normal.y();
    normal.resize(newColumns, newRows);
    normal.savedY = normal.y() + distance;
    normal.setupTabStops(oldCols, tabStopWidth);
}

void Terminal::resizeNormalBufferToCurrentGridIfNeeded()
{
    if (normalBuffer->cols() == _cols && normalBuffer->rows() == _rows)
        return;
    resizeNormalBufferKeepingSavedRow(_cols, _rows);
}

void Terminal::resizeBuffers(int newColumns, int newRows)
{
    if (_buffer == normalBuffer)
        resizeNormalBufferKeepingSavedRow(newColumns, newRows);
    // The normal buffer waits while the alternate one is active; it is resized when it returns.
    altBuffer->resize(newColumns, newRows);
}

// --- Cells and lines ---------------------------------------------------------------------------

std::shared_ptr<BufferLine> Terminal::getLine(int row)
{
    if (row < 0 || row >= _rows)
        return nullptr;
    Buffer& active = *_buffer;
    const int index = active.yDisp() + row;
    if (index < 0 || index >= active.lines().count())
        return nullptr;
    return active.lines()[index];
}

std::shared_ptr<BufferLine> Terminal::getScrollInvariantLine(int64_t row)
{
    Buffer& active = *_buffer;
    const int64_t index = row - active.linesTop;
    if (index < 0 || index >= active.lines().count())
        return nullptr;
    return active.lines()[static_cast<int>(index)];
}

std::optional<CharData> Terminal::getCharData(int col, int row)
{
    if (col < 0 || col >= _cols)
        return std::nullopt;
    const std::shared_ptr<BufferLine> line = getLine(row);
    if (!line)
        return std::nullopt;
    return (*line)[col];
}

std::optional<Character> Terminal::getCharacter(int col, int row)
{
    const std::optional<CharData> data = getCharData(col, row);
    if (!data)
        return std::nullopt;
    return getCharacter(*data);
}

std::optional<std::string> Terminal::getText(int col, int row)
{
    const std::optional<CharData> data = getCharData(col, row);
    if (!data)
        return std::nullopt;
    return getText(*data);
}

Character Terminal::getCharacter(const CharData& data) const
{
    // An empty cell (code 0, no cluster) has no text: it reads as a space.
    if (data.code == 0 && !data.graphemeScalarValues)
        return Character(U' ');
    return data.getCharacter();
}

std::string Terminal::getText(const CharData& data) const
{
    return data.getText();
}

// --- Colours -----------------------------------------------------------------------------------

std::vector<Color> Terminal::buildAnsiPalette() const
{
    switch (_options.ansi256PaletteStrategy) {
    case Ansi256PaletteStrategy::xterm:
        return Color::generateXtermPalette(installedColors);
    case Ansi256PaletteStrategy::base16Lab:
        return Color::generateBase16LabPalette(installedColors, backgroundColor_, foregroundColor_, false);
    case Ansi256PaletteStrategy::base16LabHarmonious:
        return Color::generateBase16LabPalette(installedColors, backgroundColor_, foregroundColor_, true);
    }
    return Color::generateXtermPalette(installedColors);
}

void Terminal::installPalette(const std::vector<Color>& colors)
{
    if (colors.size() != 16)
        return;
    installedColors = colors;
    rebuildAnsiPalette(false);
}

void Terminal::rebuildAnsiPalette(bool notifyDelegate)
{
    defaultAnsiColors = buildAnsiPalette();
    ansiColors = defaultAnsiColors;
    if (notifyDelegate) {
        if (auto host = delegate())
            host->colorChanged(*this, std::nullopt);
    }
}

std::optional<Color> Terminal::paletteColor(int index) const
{
    if (index < 0 || static_cast<size_t>(index) >= ansiColors.size())
        return std::nullopt;
    return ansiColors[static_cast<size_t>(index)];
}

// Each colour setter tells the delegate once. The delegate's default implementation writes the
// colour back through this setter; the guard flag makes that nested call store and return.

void Terminal::setForegroundColor(const Color& color)
{
    foregroundColor_ = color;
    if (settingFgColor)
        return;
    settingFgColor = true;
    if (auto host = delegate())
        host->setForegroundColor(*this, color);
    settingFgColor = false;
    // The Lab palettes are built between the background and the foreground.
    if (_options.ansi256PaletteStrategy != Ansi256PaletteStrategy::xterm)
        rebuildAnsiPalette(true);
}

void Terminal::setBackgroundColor(const Color& color)
{
    backgroundColor_ = color;
    if (settingBgColor)
        return;
    settingBgColor = true;
    if (auto host = delegate())
        host->setBackgroundColor(*this, color);
    settingBgColor = false;
    if (_options.ansi256PaletteStrategy != Ansi256PaletteStrategy::xterm)
        rebuildAnsiPalette(true);
}

void Terminal::setCursorColor(const std::optional<Color>& color)
{
    cursorColor_ = color;
    if (settingCursorColor)
        return;
    settingCursorColor = true;
    if (auto host = delegate())
        host->setCursorColor(*this, color);
    settingCursorColor = false;
}

// --- Options -----------------------------------------------------------------------------------

void Terminal::setEnableOsc8Hyperlinks(bool value)
{
    if (_options.enableOsc8Hyperlinks == value)
        return;
    _options.enableOsc8Hyperlinks = value;
    if (!value)
        activeHyperlink.reset();
    updateFullScreen();
}

void Terminal::setAnsi256PaletteStrategy(Ansi256PaletteStrategy strategy)
{
    if (_options.ansi256PaletteStrategy == strategy)
        return;
    _options.ansi256PaletteStrategy = strategy;
    rebuildAnsiPalette(true);
}

void Terminal::setMouseMode(MouseMode mode)
{
    mouseMode_ = mode;
    if (auto host = delegate())
        host->mouseModeChanged(*this);
}

// --- Mode mirrors --------------------------------------------------------------------------------

// The buffers' fast print paths step aside while either insert mode or protection is on.

void Terminal::setInsertMode(bool value)
{
    insertMode = value;
    for (Buffer* target : {normalBuffer.get(), altBuffer.get()}) {
        target->insertMode = value;
        target->bulkInsertBlocked = value || target->characterProtection;
    }
}

void Terminal::setCharacterProtection(bool value)
{
    characterProtection = value;
    for (Buffer* target : {normalBuffer.get(), altBuffer.get()}) {
        target->characterProtection = value;
        target->bulkInsertBlocked = target->insertMode || value;
    }
}

// --- Focus, visibility, pointer ----------------------------------------------------------------

void Terminal::setTerminalFocus(bool focused)
{
    reportedFocusState = focused;
    if (sendFocus)
        sendFocusReport();
}

void Terminal::sendFocusReport()
{
    sendResponse(cc.CSI(), reportedFocusState ? "I" : "O");
}

void Terminal::setTerminalVisibility(TerminalVisibility visibility)
{
    const bool changed = reportedVisibility != visibility;
    reportedVisibility = visibility;
    if (changed && visibilityReportsEnabled)
        reportTerminalVisibility();
}

void Terminal::reportTerminalVisibility()
{
    sendResponse(cc.CSI(),
                 reportedVisibility == TerminalVisibility::potentiallyVisible ? "?999;1n" : "?999;2n");
}

void Terminal::beginPrimaryPointerPress(Position at)
{
    terminalLock_.preconditionLocked();
    primaryPointerPressLocation = at;
}

void Terminal::endPrimaryPointerPress()
{
    terminalLock_.preconditionLocked();
    primaryPointerPressLocation.reset();
}

std::optional<Position> Terminal::updatePressure(int stage, float pressureValue)
{
    terminalLock_.preconditionLocked();
    pressureStage = stage;
    pressure = pressureValue;
    // Stage 2 is a force click: the view acts where the press began, not where it is now.
    return stage == 2 ? primaryPointerPressLocation : std::nullopt;
}

// --- Selections --------------------------------------------------------------------------------

void Terminal::registerSelection(const std::shared_ptr<SelectionService>& selection)
{
    if (!selection)
        return;
    const auto body = [&] {
        for (const std::weak_ptr<SelectionService>& entry : selections) {
            if (entry.lock() == selection)
                return;
        }
        // Entries whose selection has gone are dropped while we are here.
        std::erase_if(selections,
                      [](const std::weak_ptr<SelectionService>& entry) { return entry.expired(); });
        selections.push_back(selection);
        if (selection->active())
            ++activeSelectionCount;
    };
    if (terminalLock_.isHeldByCurrentThread())
        body();
    else
        terminalLock_.withLock(body);
}

void Terminal::unregisterSelection(const std::shared_ptr<SelectionService>& selection)
{
    if (!selection)
        return;
    const auto body = [&] {
        const auto found = std::find_if(
            selections.begin(), selections.end(),
            [&](const std::weak_ptr<SelectionService>& entry) { return entry.lock() == selection; });
        if (found == selections.end())
            return;
        selections.erase(found);
        if (selection->active())
            activeSelectionCount = std::max(activeSelectionCount - 1, 0);
    };
    if (terminalLock_.isHeldByCurrentThread())
        body();
    else
        terminalLock_.withLock(body);
}

bool Terminal::isRegistered(const SelectionService& selection) const
{
    return std::any_of(selections.begin(), selections.end(),
                       [&](const std::weak_ptr<SelectionService>& entry) {
                           const std::shared_ptr<SelectionService> alive = entry.lock();
                           return alive.get() == &selection;
                       });
}

void Terminal::selectionActivityChanged(const SelectionService& selection, bool active)
{
    if (!isRegistered(selection))
        return;
    activeSelectionCount = std::max(activeSelectionCount + (active ? 1 : -1), 0);
}

void Terminal::adjustSelectionsForInPlaceScroll(int64_t top, int64_t bottom, int64_t lines)
{
    if (activeSelectionCount < 1)
        return;
    // Copied first: a selection's change notification may reach code that registers another.
    const std::vector<std::weak_ptr<SelectionService>> watching = selections;
    for (const std::weak_ptr<SelectionService>& entry : watching) {
        if (const std::shared_ptr<SelectionService> selection = entry.lock())
            selection->adjustForInPlaceScroll(top, bottom, lines);
    }
}

void Terminal::selectionsInvalidateForColumnRestrictedScroll(int64_t top, int64_t bottom, int left, int right)
{
    if (activeSelectionCount < 1)
        return;
    const std::vector<std::weak_ptr<SelectionService>> watching = selections;
    for (const std::weak_ptr<SelectionService>& entry : watching) {
        if (const std::shared_ptr<SelectionService> selection = entry.lock())
            selection->invalidateForColumnRestrictedScroll(top, bottom, left, right);
    }
}

void Terminal::repairWideCellsForColumnRestrictedShift(int row)
{
    Buffer& active = *_buffer;
    if (row < 0 || row >= active.lines().count())
        return;
    BufferLine& line = *active.lines()[row];
    line.repairWideSeam(active.marginLeft());
    line.repairWideSeam(active.marginRight() + 1);
}

} // namespace kestrovan
