// Copy and paste, and the system clipboards behind the kitty clipboard protocol.
//
// Copy writes the selected text to the standard clipboard only: offering a finished selection on
// the primary selection is the selection gestures' business. A paste reads the clipboard
// asynchronously (its owner may be another program) and goes through the clipboard protocol's
// paste: a kitty paste event when the program switched those on, else the text, bracketed when
// asked. A paste event advertises what the clipboard holds at one change count; the program's
// later read of it is answered only while the clipboard still holds that, checked when the read
// starts and again when the owner's data arrives, since another program may take the clipboard in
// between.

#include "Kestrovan/Apple/AppleKittyClipboardCatalog.h"
#include "Kestrovan/Apple/AppleTerminalView.h"
#include "Kestrovan/KittyClipboardProtocol.h"
#include "Kestrovan/SelectionService.h"
#include "Platform/Graphics/Bitmap.h"
#include "Platform/Graphics/Canvas.h"

#include <cmath>

namespace kestrovan {

namespace {

platform::ClipboardKind kindOf(KittyClipboardLocation location)
{
    return location == KittyClipboardLocation::primary ? platform::ClipboardKind::primary
                                                       : platform::ClipboardKind::standard;
}

/// How many times a snapshot reads the formats before giving up on a clipboard that keeps changing.
constexpr int snapshotReadings = 3;

/// The read of a paste event's snapshot: answered on the main thread, and only while the clipboard
/// still has the change count the snapshot was taken at.
TerminalClipboardSnapshot::ReadFunction snapshotRead(std::weak_ptr<TerminalView> weak,
                                                     KittyClipboardLocation location, uint64_t identity,
                                                     bool hostBacked)
{
    return [weak, location, identity, hostBacked](const std::string& mimeType,
                                                  std::function<void(KittyClipboardReadResult)> completion) {
        const std::shared_ptr<TerminalView> view = weak.lock();
        if (!view)
            return false;
        view->onMain(
            [weak, location, identity, hostBacked, mimeType, completion = std::move(completion)] {
                const std::shared_ptr<TerminalView> view = weak.lock();
                platform::Clipboard* clipboard = view ? view->systemClipboard(location) : nullptr;
                auto unchanged = [weak, location, identity] {
                    const std::shared_ptr<TerminalView> view = weak.lock();
                    platform::Clipboard* clipboard = view ? view->systemClipboard(location) : nullptr;
                    return clipboard && clipboard->changeCount() == identity;
                };
                if (!view || !unchanged()) {
                    completion(KittyClipboardReadResult::unavailable());
                    return;
                }
                if (hostBacked) {
                    if (const std::shared_ptr<TerminalViewDelegate> delegate = view->terminalDelegate()) {
                        if (std::optional<KittyClipboardReadResult> answer =
                                delegate->kittyClipboardRead(*view, location, mimeType)) {
                            completion(std::move(*answer));
                            return;
                        }
                    }
                }
                const std::optional<std::string> identifier =
                    AppleKittyClipboardCatalog(clipboard->formats()).identifier(mimeType);
                if (!identifier) {
                    completion(KittyClipboardReadResult::unavailable());
                    return;
                }
                clipboard->read(*identifier,
                                [unchanged, completion](std::optional<std::vector<uint8_t>> data) {
                                    // The owner answered late: the data stands only if nobody took the
                                    // clipboard meanwhile.
                                    if (!data || !unchanged()) {
                                        completion(KittyClipboardReadResult::unavailable());
                                        return;
                                    }
                                    completion(KittyClipboardReadResult::data(std::move(*data)));
                                });
            },
            "kittyClipboardSnapshot(location:)");
        return true;
    };
}

} // namespace

platform::Clipboard* TerminalView::systemClipboard(KittyClipboardLocation location) const
{
    return host_ ? host_->clipboard(kindOf(location)) : nullptr;
}

std::optional<std::vector<std::string>>
TerminalView::kittyPlatformTypeIdentifiers(KittyClipboardLocation location)
{
    platform::Clipboard* clipboard = systemClipboard(location);
    if (!clipboard)
        return std::nullopt;
    std::vector<std::string> formats = clipboard->formats();
    if (formats.empty())
        return std::nullopt;
    return formats;
}

void TerminalView::kittyPlatformData(KittyClipboardLocation location, const std::string& identifier,
                                     std::function<void(std::optional<std::vector<uint8_t>>)> completion)
{
    platform::Clipboard* clipboard = systemClipboard(location);
    if (!clipboard) {
        completion(std::nullopt);
        return;
    }
    clipboard->read(identifier, std::move(completion));
}

KittyClipboardWriteResult
TerminalView::kittyPlatformPublish(KittyClipboardLocation location,
                                   const std::vector<std::pair<std::string, std::vector<uint8_t>>>& items)
{
    platform::Clipboard* clipboard = systemClipboard(location);
    if (!clipboard || !clipboard->publish(items))
        return KittyClipboardWriteResult::ioError;
    return KittyClipboardWriteResult::success;
}

void TerminalView::copy()
{
    requireMainThread("copy(_:)");
    std::string text = withTerminal(
        [this](Terminal&) { return selection_ ? selection_->getSelectedText() : std::string(); }, "copy(_:)");
    // Handed over, not copied: a large selection's text is then held once.
    if (platform::Clipboard* clipboard = systemClipboard(KittyClipboardLocation::standard))
        clipboard->setText(std::move(text));
}

void TerminalView::paste()
{
    requireMainThread("paste(_:)");
    pasteClipboard(KittyClipboardLocation::standard);
}

void TerminalView::pasteClipboard(KittyClipboardLocation location)
{
    if (!terminal_ || sendKittyPasteEvent(location))
        return;
    platform::Clipboard* clipboard = systemClipboard(location);
    if (!clipboard)
        return;
    std::weak_ptr<TerminalView> weak = weak_from_this();
    clipboard->readText([weak](std::optional<std::string> text) {
        // An empty clipboard pastes nothing (not even the brackets of an empty bracketed paste),
        // which is not an error.
        const std::shared_ptr<TerminalView> view = weak.lock();
        if (view && text && !text->empty())
            view->insertPastedText(*text);
    });
}

void TerminalView::pasteText(std::string_view text)
{
    if (!terminal_)
        return;
    ensureCaretIsVisible();
    const TerminalPasteRequest request{std::string(text)};
    withTerminal(
        [&](Terminal& terminal) {
            terminal.terminalLock().assumeHeldByCaller();
            // The user asked for this paste: text the encoder finds unsafe still goes, safely encoded.
            if (terminal.paste(request, false) == TerminalPasteResult::rejected)
                terminal.paste(request, true);
        },
        "pasteText(_:)");
}

bool TerminalView::sendKittyPasteEvent(KittyClipboardLocation location)
{
    if (!terminal_)
        return false;
    refreshKittyClipboardCapabilities();
    if (!withTerminal(
            [location](Terminal& terminal) {
                terminal.terminalLock().assumeHeldByCaller();
                return terminal.canSendKittyPasteEvent(location);
            },
            "sendKittyPasteEvent(location:)"))
        return false;
    std::optional<TerminalClipboardSnapshot> snapshot = kittyClipboardSnapshot(location);
    if (!snapshot)
        return false;
    ensureCaretIsVisible();
    const TerminalPasteResult result = withTerminal(
        [&](Terminal& terminal) {
            terminal.terminalLock().assumeHeldByCaller();
            return terminal.paste(TerminalPasteRequest(std::move(*snapshot), std::nullopt), false);
        },
        "sendKittyPasteEvent(location:)");
    return result != TerminalPasteResult::failed;
}

std::optional<TerminalClipboardSnapshot> TerminalView::kittyClipboardSnapshot(KittyClipboardLocation location)
{
    platform::Clipboard* clipboard = systemClipboard(location);
    if (const std::shared_ptr<TerminalViewDelegate> delegate = terminalDelegate()) {
        if (std::optional<std::vector<std::string>> types =
                delegate->kittyClipboardAvailableMimeTypes(*this, location)) {
            const uint64_t identity = clipboard ? clipboard->changeCount() : 0;
            return TerminalClipboardSnapshot(location, std::move(*types), identity, std::nullopt,
                                             snapshotRead(weak_from_this(), location, identity, true));
        }
    }
    if (!clipboard)
        return std::nullopt;
    // The formats stand for the change count read on both sides of them.
    for (int reading = 0; reading < snapshotReadings; ++reading) {
        const uint64_t before = clipboard->changeCount();
        const std::vector<std::string> formats = clipboard->formats();
        if (formats.empty())
            return std::nullopt;
        if (clipboard->changeCount() != before)
            continue;
        return TerminalClipboardSnapshot(location, AppleKittyClipboardCatalog(formats).mimeTypes, before,
                                         std::nullopt,
                                         snapshotRead(weak_from_this(), location, before, false));
    }
    return std::nullopt;
}

std::shared_ptr<const platform::NativeImage>
TerminalView::scale(const std::shared_ptr<const platform::NativeImage>& image, platform::Size size)
{
    if (!image)
        return image;
    // A target that is not a real size, or too large to allocate sensibly, leaves the image be.
    const double width = std::ceil(size.width);
    const double height = std::ceil(size.height);
    if (!std::isfinite(width) || !std::isfinite(height) || !(size.width > 0) || !(size.height > 0) ||
        width > maximumScaledImageSide || height > maximumScaledImageSide ||
        width * height > maximumScaledImagePixels)
        return image;
    std::optional<platform::Bitmap> bitmap = platform::Bitmap::create(int(width), int(height));
    if (!bitmap)
        return image;
    // Aspect fit: the largest rectangle of the image's shape inside the target, centred.
    const double w = image->width();
    const double h = image->height();
    platform::Rect destination{0, 0, width, height};
    if (w / h < width / height) {
        destination.width = height * w / h;
        destination.x = (width - destination.width) / 2;
    } else {
        destination.height = width * h / w;
        destination.y = (height - destination.height) / 2;
    }
    {
        platform::Canvas canvas(*bitmap);
        canvas.drawImage(image, destination, platform::ImageInterpolation::high);
    }
    std::shared_ptr<const platform::NativeImage> scaled = bitmap->makeImage();
    return scaled ? scaled : image;
}

} // namespace kestrovan
