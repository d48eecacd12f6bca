// Text from the input method and the key bindings: committed text goes to the program (as UTF-8
// in legacy mode, as kitty text events with the pressed key's modifiers in kitty mode, or as a
// paste); text still being composed is never sent but shown in an overlay at the caret, in the
// terminal's font and cell grid and in the colours of the caret cell.

#include "Kestrovan/Mac/MacOverlays.h"
#include "Kestrovan/Mac/MacTerminalView.h"
#include "Kestrovan/SelectionService.h"
#include "Platform/UI/Utf8.h"

#include <algorithm>

namespace kestrovan {

using platform::ModifierFlags;

namespace {

/// No C0 control, no DEL, no C1 control, and not empty.
bool isPlainPrintableText(const std::u32string& text)
{
    if (text.empty())
        return false;
    return std::all_of(text.begin(), text.end(),
                       [](char32_t c) { return c >= 0x20 && !(c >= 0x7F && c <= 0x9F); });
}

} // namespace

void MacTerminalView::insertText(const std::string& text, bool isPaste)
{
    if (!terminal())
        return;
    const bool wasComposing = kittyIsComposing_;
    kittyIsComposing_ = false;
    markedText_.reset();
    updateMarkedTextOverlay();
    const std::string valid = platform::utf8FromScalars(platform::scalarsFromUtf8(text));
    if (isPaste) {
        // A paste never goes through the key encodings: the clipboard protocol's paste filters
        // and brackets it as the program asked.
        pendingKittyKeyEvent_.reset();
        pasteText(valid);
        return;
    }
    const KittyKeyboardFlags flags = activeKittyFlags("insertText(_:replacementRange:isPaste:)");
    if (flags.rawValue == 0) {
        send(std::string_view(valid));
        return;
    }
    const std::optional<PendingKittyKeyEvent> pending = std::exchange(pendingKittyKeyEvent_, std::nullopt);
    const std::u32string scalars = platform::scalarsFromUtf8(valid);
    // A backspace that ended a composition belonged to the input method.
    if (wasComposing && scalars.size() == 1 && (scalars[0] == 0x7F || scalars[0] == 0x08))
        return;
    // Alt-composed characters (Alt not as meta) reach the program as text, not as Alt chords.
    if (pending && !optionIsMeta(pending->event)) {
        const ModifierFlags modifiers = pending->event.modifierFlags;
        if (modifiers.has(ModifierFlags::option) &&
            !modifiers.hasAny(ModifierFlags::control | ModifierFlags::command) &&
            isPlainPrintableText(scalars)) {
            send(std::string_view(valid));
            return;
        }
    }
    std::optional<KittyKeyEvent> event;
    if (pending && scalars.size() == 1)
        event = kittyTextEvent(pending->event, pending->eventType, scalars);
    if (!event) {
        event = KittyKeyEvent{};
        event->key = KittyKey::none();
        event->eventType = KittyKeyboardEventType::press;
        event->text = scalars;
    }
    if (sendKittyEvent(*event) && flags.contains(KittyKeyboardFlags::reportEvents) && pending &&
        !event->key.isNone())
        kittyKeysWithReportedPress_.insert(pending->event.keyCode);
}

void MacTerminalView::setMarkedText(const platform::MarkedText& text)
{
    pendingKittyKeyEvent_.reset();
    if (text.text.empty())
        markedText_.reset();
    else
        markedText_ = text;
    kittyIsComposing_ = markedText_.has_value();
    updateMarkedTextOverlay();
}

void MacTerminalView::unmarkText()
{
    // Nothing is sent: an input method commits through insertText.
    markedText_.reset();
    kittyIsComposing_ = false;
    updateMarkedTextOverlay();
}

std::optional<std::pair<size_t, size_t>> MacTerminalView::markedRange() const
{
    if (!markedText_)
        return std::nullopt;
    return std::pair<size_t, size_t>{0, platform::scalarsFromUtf8(markedText_->text).size()};
}

std::optional<std::string> MacTerminalView::markedSubstring(size_t location, size_t length) const
{
    if (!markedText_)
        return std::nullopt;
    const std::u32string scalars = platform::scalarsFromUtf8(markedText_->text);
    if (location >= scalars.size())
        return std::nullopt;
    const size_t count = std::min(scalars.size() - location, length);
    if (count == 0)
        return std::nullopt;
    return platform::utf8FromScalars(scalars.substr(location, count));
}

std::pair<int64_t, int64_t> MacTerminalView::selectedRange()
{
    return withTerminal(
        [this](Terminal& terminal) {
            terminal.terminalLock().assumeHeldByCaller();
            const int64_t cols = terminal.cols();
            if (selection() && selection()->active()) {
                const Position start = selection()->start();
                const Position end = selection()->end();
                const int64_t a = int64_t(start.row) * cols + start.col;
                const int64_t b = int64_t(end.row) * cols + end.col;
                if (a != b)
                    return std::pair<int64_t, int64_t>{std::min(a, b), std::max(a, b) - std::min(a, b)};
            }
            const Buffer& buffer = terminal.buffer();
            return std::pair<int64_t, int64_t>{int64_t(buffer.y()) * cols + buffer.x(), 0};
        },
        "selectedRange()");
}

int64_t MacTerminalView::characterIndex(platform::Point point)
{
    const std::optional<platform::Size> cell = cellDimension();
    if (!cell || cell->width <= 0 || cell->height <= 0)
        return 0;
    const auto column = static_cast<int64_t>(point.x / cell->width);
    const auto row = static_cast<int64_t>((frameSize().height - point.y) / cell->height);
    return withTerminal(
        [&](Terminal& terminal) {
            terminal.terminalLock().assumeHeldByCaller();
            return row * terminal.cols() + column;
        },
        "characterIndex(for:)");
}

void MacTerminalView::updateMarkedTextOverlay()
{
    if (!markedText_) {
        if (markedTextOverlayView_)
            markedTextOverlayView_->removeFromSuperview();
        markedTextOverlayView_.reset();
        markedTextOverlay_.reset();
        return;
    }
    const std::optional<platform::Size> cell = cellDimension();
    if (!cell)
        return;
    if (!markedTextOverlay_) {
        markedTextOverlay_ = std::make_shared<MarkedTextOverlay>();
        if (host())
            markedTextOverlayView_ = host()->addSubview(markedTextOverlay_);
    }

    // The colours of the caret cell, with reverse video and an inverse cell swapping them.
    MarkedTextOverlay::Style style;
    style.font = fontSet().normal;
    style.cell = *cell;
    withTerminal(
        [&](Terminal& terminal) {
            terminal.terminalLock().assumeHeldByCaller();
            const bool reverse = crossThreadState().reverseColorsActive;
            const platform::NativeColor fg = reverse ? nativeBackgroundColor() : nativeForegroundColor();
            const platform::NativeColor bg = reverse ? nativeForegroundColor() : nativeBackgroundColor();
            const Buffer& buffer = terminal.buffer();
            const int row = buffer.yBase() + buffer.y();
            const int col = buffer.x();
            if (row < 0 || row >= buffer.lines().count() || col < 0 || col >= terminal.cols()) {
                style.foreground = fg;
                style.background = bg;
                return;
            }
            const auto& line = buffer.lines().lineIfPresent(row);
            const Attribute attribute = line && col < line->count() ? (*line)[col].attribute : Attribute();
            if (!attribute.style.contains(CharacterStyle::inverse)) {
                style.foreground = fg;
                style.background = mapColor(attribute.bg, false, false, useBrightColors());
            } else {
                const bool bold = attribute.style.contains(CharacterStyle::bold);
                style.foreground = mapColor(
                    attribute.bg.isDefault() ? Attribute::Color::defaultInvertedColor() : attribute.bg, true,
                    bold, useBrightColors());
                style.background = mapColor(
                    attribute.fg.isDefault() ? Attribute::Color::defaultInvertedColor() : attribute.fg, false,
                    false, useBrightColors());
            }
        },
        "markedTextColorsAtCaret()");

    // The first line starts at the caret's column, the others at the left edge.
    const platform::Rect caret = caretFrame();
    const double width = std::max(cell->width, frameSize().width - 8);
    const double indent = caret.x >= 4 ? caret.x - 4 : 0;
    markedTextOverlay_->setContent(*markedText_, style, width, indent);
    const double height = cell->height * double(markedTextOverlay_->lineCount());
    if (markedTextOverlayView_) {
        // Its top is level with the caret's top; wrapped lines extend below.
        markedTextOverlayView_->setFrame(platform::Rect{4, caret.y + caret.height - height, width, height});
        markedTextOverlayView_->setNeedsDisplay();
    }
}

} // namespace kestrovan
