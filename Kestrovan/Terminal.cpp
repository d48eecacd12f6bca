// The terminal's state: construction, setup and teardown, buffer switching, the palette and colour
// setters, the mode mirrors, focus and visibility reports, pointer press, the selection registry
// and the cell accessors. The handler families live in the files listed in Terminal.h.
#include "Kestrovan/Terminal.h"

#include "Kestrovan/DecPrivateModeTable.h"
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
    : cellArena_(
          std::make_shared<CellArena>(CellArena::defaultStyleCapacity, CellArena::defaultGraphemeCapacity)),
      tdel_(delegate), _options(options), palette_(options.ansi256PaletteStrategy)
{
    defaultCursorStyle_ = _options.cursorStyle;
    modes_.setBidiState(_options.initialBidiState);
    modes_.set(TerminalMode::bidiArrowKeySwap, _options.initialBidiArrowKeySwap);
    kittyClipboardTokenGenerator_ = [] { return KittyClipboardTokenGenerator::generate(); };
    kittyClipboardClock_ = monotonicNanoseconds;

    parser_ = std::make_unique<EscapeSequenceParser>(
        static_cast<size_t>(std::max<int64_t>(_options.maximumOscBytes, 0)));

    // The buffers are built at the options' size rather than at 80 x 25 and then resized, which
    // saves building and reflowing rows that would be thrown away at once.
    _cols = std::max(_options.cols, MINIMUM_COLS);
    _rows = std::max(_options.rows, MINIMUM_ROWS);
    normalBuffer_ = makeBuffer(std::max(_options.scrollback, 0));
    normalBuffer_->fillViewportRows();
    altBuffer_ = makeBuffer(std::nullopt);
    modes_.attachBuffers(*normalBuffer_, *altBuffer_);

    _buffer = normalBuffer_;
    cc_.send8bit = false;
    normalBuffer_->setupTabStops(-1, tabStopWidth);
    altBuffer_->setupTabStops(-1, tabStopWidth);

    setup(false);
    joinPayloadHolders();
}

std::shared_ptr<Terminal> Terminal::create(const std::shared_ptr<TerminalDelegate>& delegate,
                                           const TerminalOptions& options)
{
    return std::make_shared<Terminal>(delegate, options);
}

Terminal::~Terminal()
{
    // First, so that no other terminal takes codes from this one while it goes.
    leavePayloadHolders();
    if (kittyClipboardProtocol_)
        kittyClipboardProtocol_->terminalDestroyed();
    payloads_.releaseAll();
    // Lines may outlive their buffers (render snapshots keep them); they must not call back here.
    if (normalBuffer_)
        normalBuffer_->setTerminal(nullptr);
    if (altBuffer_)
        altBuffer_->setTerminal(nullptr);
}

std::shared_ptr<Buffer> Terminal::makeBuffer(std::optional<int> scrollback)
{
    auto made =
        std::make_shared<Buffer>(_cols, _rows, tabStopWidth, scrollback, modes_.bidiState(), cellArena_);
    made->setTerminal(this);
    return made;
}

void Terminal::setup(bool isReset)
{
    _cols = std::max(_options.cols, MINIMUM_COLS);
    _rows = std::max(_options.rows, MINIMUM_ROWS);

    if (isReset) {
        if (programStatusStore_.clear("")) {
            if (auto host = delegate())
                host->programStatusChanged(*this, programStatusRecords());
        }
        resetNormalBuffer();
        activateNormalBuffer(false);
        // A full reset homes the cursor. Switching from the old buffer copies the alternate
        // buffer's cursor, which is only meaningful when that buffer was the one in use.
        normalBuffer_->setX(0);
        normalBuffer_->setY(0);
        kittyGraphicsState_.activeIsAlternate = true;
        removePlacementRecords();
        cleanupUnusedKittyImages();
        kittyGraphicsState_.activeIsAlternate = isCurrentBufferAlternate();
        altBuffer_->clear();
        resetSemanticPromptState();
    } else {
        normalBuffer_->resize(_cols, _rows);
        altBuffer_->resize(_cols, _rows);
    }

    modes_.set(TerminalMode::cursorHidden, false);
    modes_.set(TerminalMode::applicationKeypad, false);
    modes_.set(TerminalMode::applicationCursor, false);
    modes_.set(TerminalMode::keyboardActionMode, false);
    modes_.set(TerminalMode::sendReceiveMode, true);
    modes_.set(TerminalMode::backarrowKeyMode, false);

    if (modes_[TerminalMode::reverseColors]) {
        modes_.set(TerminalMode::reverseColors, false);
        updateFullScreen();
        if (auto host = delegate())
            host->colorChanged(*this, std::nullopt);
    }

    modes_.set(TerminalMode::originMode, false);
    modes_.set(TerminalMode::marginMode, false);
    modes_.set(TerminalMode::insertMode, false);
    characterProtectionMode_ = CharacterProtectionMode::off;
    modes_.set(TerminalMode::characterProtection, false);
    modes_.set(TerminalMode::wraparound, true);

    // Each mode is switched off through its own handler so that its switching-off effects run.
    DecPrivateModeTable::apply(*this, 2004, false);
    mouse_.setAlternateScrollMode(true);
    for (int mode : {2026, 2031, 2033, 2048, 5522})
        DecPrivateModeTable::apply(*this, mode, false);

    reportedOnly_ = ReportedOnlyState();

    if (isReset) {
        savedPrivateModes_.clear();
        if (kittyClipboardProtocol_)
            kittyClipboardProtocol_->clear();
    }

    keyboardModeNormal_ = KeyboardModeState();
    keyboardModeAlt_ = KeyboardModeState();

    charsets_.reset();

    if (curKey_ != InternedAttributeKey()) {
        const Attribute old = currentAttribute();
        setCurrentAttribute(Attribute(), _buffer->cellArena()->intern(Attribute()).value_or(0));
        if (!old.bg.isDefault()) {
            setEraseAttribute(Attribute());
            rebuildEraseCells(curStyleID_);
        }
    }

    setMouseMode(MouseMode::off);
    mouse_.setMouseShiftCapture(false);

    _buffer->setScrollTop(0);
    _buffer->setScrollBottom(_rows - 1);
    _buffer->setMarginLeft(0);
    _buffer->setMarginRight(_cols - 1);

    cc_.send8bit = false;
    conformance_ = TerminalConformance::vt500;
    modes_.set(TerminalMode::allow80To132, false);
    modes_.set(TerminalMode::noClearOnColumnChange, false);
    titles_.resetXtermTitleModes();
    activeHyperlink_.reset();
    modes_.set(TerminalMode::cursorBlink, false);
    hostCurrentDirectory_.reset();
    modes_.set(TerminalMode::lineFeedMode, _options.convertEol);
}

void Terminal::rebuildEraseCells(uint16_t eraseStyleID)
{
    currentEraseBlankCell_ =
        PackedCell::makeScalar(0, eraseStyleID, PackedCell::WidthState::single, false, 0, 0);
    currentEraseSpaceCell_ =
        PackedCell::makeScalar(' ', eraseStyleID, PackedCell::WidthState::single, false, 0, 0);
    eraseCellsStale_ = false;
}

void Terminal::refreshEraseCells() const
{
    // A full arena cannot name the look: erased cells take the default one, as after SGR.
    const uint16_t id = cellArena_->intern(currentEraseAttribute()).value_or(0);
    currentEraseBlankCell_ = PackedCell::makeScalar(0, id, PackedCell::WidthState::single, false, 0, 0);
    currentEraseSpaceCell_ = PackedCell::makeScalar(' ', id, PackedCell::WidthState::single, false, 0, 0);
    eraseCellsStale_ = false;
}

// --- Buffers -----------------------------------------------------------------------------------

void Terminal::resetNormalBuffer()
{
    // The new buffer has no scrollback waiting for a reflow.
    columnSwitchRun_.close();
    normalBuffer_ = makeBuffer(std::max(_options.scrollback, 0));
    normalBuffer_->fillViewportRows();
    normalBuffer_->setupTabStops(-1, tabStopWidth);
    // The new buffer takes the modes it mirrors; the old one is no longer written.
    modes_.attachBuffers(*normalBuffer_, *altBuffer_);
}

void Terminal::activateNormalBuffer(bool clearAlt)
{
    if (_buffer == normalBuffer_)
        return;
    semanticNoteAlternateScreenSwitch();
    resizeNormalBufferToCurrentGridIfNeeded();
    // The cursor carries over from the screen that was in use, a pending wrap with it.
    if (altBuffer_->x() >= 0)
        normalBuffer_->setX(altBuffer_->x());
    normalBuffer_->setWrapPending(altBuffer_->wrapPending());
    if (altBuffer_->y() >= 0)
        normalBuffer_->setY(std::min(altBuffer_->y(), normalBuffer_->rows() - 1));
    if (clearAlt) {
        kittyGraphicsState_.activeIsAlternate = true;
        removePlacementRecords();
        cleanupUnusedKittyImages();
        kittyGraphicsState_.activeIsAlternate = isCurrentBufferAlternate();
        altBuffer_->clear();
    }
    _buffer = normalBuffer_;
    kittyGraphicsState_.activeIsAlternate = false;
    scheduleKittyAnimationTimer();
}

void Terminal::activateAltBuffer()
{
    if (_buffer == altBuffer_)
        return;
    semanticNoteAlternateScreenSwitch();
    if (normalBuffer_->x() >= 0)
        altBuffer_->setX(normalBuffer_->x());
    altBuffer_->setWrapPending(normalBuffer_->wrapPending());
    if (normalBuffer_->y() >= 0)
        altBuffer_->setY(std::min(normalBuffer_->y(), altBuffer_->rows() - 1));
    altBuffer_->fillViewportRows();
    _buffer = altBuffer_;
    kittyGraphicsState_.activeIsAlternate = true;
    removePlacementRecords();
    cleanupUnusedKittyImages();
    kittyGraphicsState_.activeIsAlternate = isCurrentBufferAlternate();
    scheduleKittyAnimationTimer();
}

namespace {

/// Puts the saved row `distance` rows from the cursor row again after a resize moved the cursor.
void keepSavedRowDistance(Buffer& buffer, int distance)
{
    SavedCursor saved = buffer.savedCursor();
    saved.y = buffer.y() + distance;
    buffer.setSavedCursor(saved);
}

} // namespace

void Terminal::resizeNormalBufferKeepingSavedRow(int newColumns, int newRows)
{
    Buffer& normal = *normalBuffer_;
    const int oldCols = normal.cols();
    // The saved row keeps its distance from the cursor row, which the resize may move.
    const int distance = normal.savedCursor().y - normal.y();
    normal.resize(newColumns, newRows);
    keepSavedRowDistance(normal, distance);
    normal.setupTabStops(oldCols, tabStopWidth);
}

void Terminal::resizeNormalBufferToCurrentGridIfNeeded()
{
    Buffer& normal = *normalBuffer_;
    if (normal.cols() == _cols && normal.rows() == _rows)
        return;
    // Back from a column switch made on the alternate screen, inside a feed, the scrollback may
    // wait for its reflow as after a switch made here (`ColumnSwitchRun`).
    if (parseDepth_ > 0 && normal.rows() == _rows && normal.canDeferColumnSwitch(_cols)) {
        resizeNormalBufferDeferringScrollback(_cols);
        return;
    }
    resizeNormalBufferKeepingSavedRow(_cols, _rows);
}

void Terminal::resizeNormalBufferDeferringScrollback(int newColumns)
{
    Buffer& normal = *normalBuffer_;
    const int oldCols = normal.cols();
    // The saved row keeps its distance from the cursor row, as in any resize.
    const int distance = normal.savedCursor().y - normal.y();
    normal.resizeDeferringScrollback(newColumns);
    keepSavedRowDistance(normal, distance);
    normal.setupTabStops(oldCols, tabStopWidth);
    columnSwitchRun_.open();
}

void Terminal::resizeBuffers(int newColumns, int newRows)
{
    if (_buffer == normalBuffer_ && !keepNormalBufferInResize_)
        resizeNormalBufferKeepingSavedRow(newColumns, newRows);
    // The normal buffer waits while the alternate one is active; it is resized when it returns.
    altBuffer_->resize(newColumns, newRows);
}

// --- Cells and lines ---------------------------------------------------------------------------

std::shared_ptr<const BufferLine> Terminal::getLine(int row) const
{
    if (row < 0 || row >= _rows)
        return nullptr;
    const Buffer& active = buffer();
    const int index = active.yDisp() + row;
    if (index < 0 || index >= active.lines().count())
        return nullptr;
    return active.lines().lineIfPresent(index);
}

std::shared_ptr<const BufferLine> Terminal::getScrollInvariantLine(int64_t row) const
{
    const Buffer& active = buffer();
    const int64_t index = row - active.linesTop();
    if (index < 0 || index >= active.lines().count())
        return nullptr;
    return active.lines().lineIfPresent(static_cast<int>(index));
}

std::optional<CharData> Terminal::getCharData(int col, int row) const
{
    if (col < 0 || col >= _cols)
        return std::nullopt;
    const std::shared_ptr<const BufferLine> line = getLine(row);
    if (!line)
        return std::nullopt;
    return (*line)[col];
}

// --- Colours -----------------------------------------------------------------------------------

void Terminal::installPalette(const std::vector<Color>& colors)
{
    palette_.install(colors, _options.ansi256PaletteStrategy);
}

void Terminal::rebuildAnsiPalette(bool notifyDelegate)
{
    palette_.rebuild(_options.ansi256PaletteStrategy);
    if (notifyDelegate) {
        if (auto host = delegate())
            host->colorChanged(*this, std::nullopt);
    }
}

// Each colour setter tells the delegate once. The delegate's default implementation writes the
// colour back through this setter; the guard flag makes that nested call store and return.

void Terminal::setForegroundColor(const Color& color)
{
    palette_.setForegroundColor(color);
    if (settingFgColor_)
        return;
    settingFgColor_ = true;
    if (auto host = delegate())
        host->setForegroundColor(*this, color);
    settingFgColor_ = false;
    // The Lab palettes are built between the background and the foreground.
    if (_options.ansi256PaletteStrategy != Ansi256PaletteStrategy::xterm)
        rebuildAnsiPalette(true);
}

void Terminal::setBackgroundColor(const Color& color)
{
    palette_.setBackgroundColor(color);
    if (settingBgColor_)
        return;
    settingBgColor_ = true;
    if (auto host = delegate())
        host->setBackgroundColor(*this, color);
    settingBgColor_ = false;
    if (_options.ansi256PaletteStrategy != Ansi256PaletteStrategy::xterm)
        rebuildAnsiPalette(true);
}

void Terminal::setCursorColor(const std::optional<Color>& color)
{
    palette_.setCursorColor(color);
    if (settingCursorColor_)
        return;
    settingCursorColor_ = true;
    if (auto host = delegate())
        host->setCursorColor(*this, color);
    settingCursorColor_ = false;
}

// --- Options -----------------------------------------------------------------------------------

void Terminal::setEnableOsc8Hyperlinks(bool value)
{
    if (_options.enableOsc8Hyperlinks == value)
        return;
    _options.enableOsc8Hyperlinks = value;
    if (!value)
        activeHyperlink_.reset();
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
    mouse_.setMouseMode(mode);
    if (auto host = delegate())
        host->mouseModeChanged(*this);
}

// --- Focus, visibility, pointer ----------------------------------------------------------------

void Terminal::setTerminalFocus(bool focused)
{
    reportedFocusState_ = focused;
    if (modes_[TerminalMode::sendFocus])
        sendFocusReport();
}

void Terminal::sendFocusReport()
{
    sendResponse(cc_.CSI(), reportedFocusState_ ? "I" : "O");
}

void Terminal::setTerminalVisibility(TerminalVisibility visibility)
{
    const bool changed = reportedVisibility_ != visibility;
    reportedVisibility_ = visibility;
    if (changed && modes_[TerminalMode::visibilityReportsEnabled])
        reportTerminalVisibility();
}

void Terminal::reportTerminalVisibility()
{
    sendResponse(cc_.CSI(),
                 reportedVisibility_ == TerminalVisibility::potentiallyVisible ? "?999;1n" : "?999;2n");
}

void Terminal::beginPrimaryPointerPress(Position at)
{
    terminalLock_.preconditionLocked();
    primaryPointerPressLocation_ = at;
}

void Terminal::endPrimaryPointerPress()
{
    terminalLock_.preconditionLocked();
    primaryPointerPressLocation_.reset();
}

std::optional<Position> Terminal::updatePressure(int stage, float pressureValue)
{
    terminalLock_.preconditionLocked();
    pressureStage_ = stage;
    pressure_ = pressureValue;
    // Stage 2 is a force click: the view acts where the press began, not where it is now.
    return stage == 2 ? primaryPointerPressLocation_ : std::nullopt;
}

// --- Selections --------------------------------------------------------------------------------

void Terminal::registerSelection(const std::shared_ptr<SelectionService>& selection)
{
    if (!selection)
        return;
    const auto body = [&]() REQUIRES(terminalLock_) {
        for (const std::weak_ptr<SelectionService>& entry : selections_) {
            if (entry.lock() == selection)
                return;
        }
        // Entries whose selection has gone are dropped while we are here.
        std::erase_if(selections_,
                      [](const std::weak_ptr<SelectionService>& entry) { return entry.expired(); });
        selections_.push_back(selection);
        if (selection->active())
            ++activeSelectionCount_;
    };
    if (terminalLock_.isHeldByCurrentThread()) {
        terminalLock_.assumeHeldByCaller();
        body();
    } else {
        TerminalLockGuard guard(terminalLock_);
        body();
    }
}

void Terminal::unregisterSelection(const std::shared_ptr<SelectionService>& selection)
{
    if (!selection)
        return;
    const auto body = [&]() REQUIRES(terminalLock_) {
        const auto found = std::find_if(
            selections_.begin(), selections_.end(),
            [&](const std::weak_ptr<SelectionService>& entry) { return entry.lock() == selection; });
        if (found == selections_.end())
            return;
        selections_.erase(found);
        if (selection->active())
            activeSelectionCount_ = std::max(activeSelectionCount_ - 1, 0);
    };
    if (terminalLock_.isHeldByCurrentThread()) {
        terminalLock_.assumeHeldByCaller();
        body();
    } else {
        TerminalLockGuard guard(terminalLock_);
        body();
    }
}

bool Terminal::isRegistered(const SelectionService& selection) const
{
    return std::any_of(selections_.begin(), selections_.end(),
                       [&](const std::weak_ptr<SelectionService>& entry) {
                           const std::shared_ptr<SelectionService> alive = entry.lock();
                           return alive.get() == &selection;
                       });
}

void Terminal::selectionActivityChanged(const SelectionService& selection, bool active)
{
    if (!isRegistered(selection))
        return;
    activeSelectionCount_ = std::max(activeSelectionCount_ + (active ? 1 : -1), 0);
}

void Terminal::adjustSelectionsForInPlaceScroll(int64_t top, int64_t bottom, int64_t lines)
{
    if (activeSelectionCount_ < 1)
        return;
    // Copied first: a selection's change notification may reach code that registers another.
    const std::vector<std::weak_ptr<SelectionService>> watching = selections_;
    for (const std::weak_ptr<SelectionService>& entry : watching) {
        if (const std::shared_ptr<SelectionService> selection = entry.lock())
            selection->adjustForInPlaceScroll(top, bottom, lines);
    }
}

void Terminal::selectionsInvalidateForColumnRestrictedScroll(int64_t top, int64_t bottom, int left, int right)
{
    if (activeSelectionCount_ < 1)
        return;
    const std::vector<std::weak_ptr<SelectionService>> watching = selections_;
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
