// Kitty graphics command intake: the APC G body is parsed into its keys, chunks of a transfer are
// joined, and each complete command is dispatched by its action letter.
#include "Kestrovan/KittyGraphicsEngine.h"
#include "Kestrovan/Terminal.h"

namespace kestrovan {

namespace {

constexpr const char* idAndNumber = "EINVAL: image ID and number are mutually exclusive";

/// Appends a continuation chunk to the pending transfer when the whole stays within the limit;
/// a later chunk contributes only its payload and its quiet level.
bool appendChunk(KittyGraphicsPending& pending, const KittyGraphicsControl& chunk,
                 std::span<const uint8_t> payload)
{
    if (pending.base64Payload.size() + payload.size() > kittyGraphicsMaximumBodyBytes)
        return false;
    pending.control.suppressResponses = std::max(pending.control.suppressResponses, chunk.suppressResponses);
    pending.base64Payload.insert(pending.base64Payload.end(), payload.begin(), payload.end());
    return true;
}

} // namespace

KittyGraphicsEngine::KittyGraphicsEngine(Terminal& terminal)
    : terminal_(terminal), state_(terminal.kittyGraphicsState_)
{}

void KittyGraphicsEngine::handleKittyGraphics(std::span<const uint8_t> body)
{
    terminal_.terminalLock().assumeHeldByCaller();
    // A storage limit of 0 turns graphics off; oversized and malformed bodies are dropped silently.
    if (terminal_.options().kittyGraphics.storageLimitBytesPerScreen == 0)
        return;
    if (body.size() > kittyGraphicsMaximumBodyBytes)
        return;
    syncActiveScreen();
    const std::optional<KittyGraphicsParsedCommand> parsed = parseKittyGraphicsControl(body);
    if (!parsed)
        return;
    const KittyGraphicsControl& control = parsed->first;
    const std::span<const uint8_t> payload = parsed->second;

    if (control.imageId && control.imageNumber) {
        sendKittyError(control, idAndNumber);
        return;
    }
    // A delete ends any transfer in progress.
    if (control.action == 'd' || control.action == 'D')
        state_.pending.reset();

    if (control.more == 1) {
        if (state_.pending) {
            if (!appendChunk(*state_.pending, control, payload))
                state_.pending.reset();
            return;
        }
        // The first chunk: a transmission under an id replaces that image at once.
        if ((control.action == 't' || control.action == 'T') && control.imageId)
            removeKittyImage(*control.imageId);
        state_.pending = KittyGraphicsPending{control, std::vector<uint8_t>(payload.begin(), payload.end())};
        return;
    }

    if (state_.pending) {
        KittyGraphicsPending pending = std::move(*state_.pending);
        state_.pending.reset();
        if (!appendChunk(pending, control, payload))
            return;
        processKittyGraphics(pending.control, pending.base64Payload);
        return;
    }
    processKittyGraphics(control, payload);
}

void KittyGraphicsEngine::processKittyGraphics(const KittyGraphicsControl& control,
                                               std::span<const uint8_t> base64Payload)
{
    if (control.imageId && control.imageNumber) {
        sendKittyError(control, idAndNumber);
        return;
    }
    switch (control.action) {
    case 'q':
        handleKittyQuery(control, base64Payload);
        return;
    case 't':
    case 'T': {
        // The old image goes first, so a transmission that fails leaves nothing under its id.
        if (control.imageId)
            removeKittyImage(*control.imageId);
        // The quota is known before decoding: an image that could never be stored is refused
        // before its pixels take memory.
        const int64_t quota = terminal_.options().kittyGraphics.storageLimitBytesPerScreen;
        const KittyPayloadResult loaded =
            loadKittyPayload(control, base64Payload, terminal_.options().kittyGraphics, quota);
        if (loaded.error) {
            sendKittyError(control, *loaded.error);
            return;
        }
        if (!loaded.payload) {
            sendKittyError(control, "EINVAL: bad payload");
            return;
        }
        handleKittyTransmitPayload(control, *loaded.payload, control.action == 'T');
        return;
    }
    case 'p': {
        const std::optional<DisplayedImage> found = resolveKittyImageForDisplay(control);
        if (!found) {
            sendKittyError(control, "ENOENT: image not found");
            return;
        }
        if (displayKittyImage(found->payload, control, found->imageId, found->imageNumber) &&
            control.suppressResponses == 0)
            sendKittyOk(control, found->imageId, found->imageNumber, control.placementId);
        return;
    }
    case 'd':
    case 'D':
        handleKittyDelete(control);
        return;
    case 'f':
        handleKittyAnimationFrame(control, base64Payload);
        return;
    case 'a':
        handleKittyAnimationControl(control);
        return;
    case 'c':
        handleKittyAnimationComposition(control);
        return;
    default:
        sendKittyError(control, "EINVAL: unsupported action");
        return;
    }
}

void KittyGraphicsEngine::handleKittyQuery(const KittyGraphicsControl& control,
                                           std::span<const uint8_t> base64Payload)
{
    if (!control.imageId) {
        sendKittyError(control, "EINVAL: image ID required");
        return;
    }
    // Every medium, format, compression and size rule runs as for a transmission; nothing is kept.
    const KittyPayloadResult loaded =
        loadKittyPayload(control, base64Payload, terminal_.options().kittyGraphics);
    if (!loaded.payload) {
        sendKittyError(control, loaded.error.value_or("EINVAL: invalid data"));
        return;
    }
    sendKittyOk(control, control.imageId, control.imageNumber, control.placementId);
}

} // namespace kestrovan
