// Kitty graphics replies: one APC string, "G", the keys, ";" and "OK" or the error text, framed
// with 7-bit or 8-bit controls as the terminal's replies are.
#include "Kestrovan/KittyGraphicsEngine.h"
#include "Kestrovan/Terminal.h"

#include <array>

namespace kestrovan {

namespace {

// The introducers and terminators, held once and shared by both replies.
constexpr std::array<uint8_t, 2> apc7{0x1B, '_'};
constexpr std::array<uint8_t, 1> apc8{0x9F};
constexpr std::array<uint8_t, 2> st7{0x1B, '\\'};
constexpr std::array<uint8_t, 1> st8{0x9C};

void appendKey(std::string& keys, char key, uint32_t value)
{
    if (!keys.empty())
        keys += ',';
    keys += key;
    keys += '=';
    keys += std::to_string(value);
}

} // namespace

void KittyGraphicsEngine::sendReply(Terminal& terminal, const std::string& keys, std::string_view message)
{
    std::string body = "G";
    body += keys;
    body += ';';
    body += message;
    const bool eightBit = terminal.cc().send8bit;
    terminal.sendResponse(eightBit ? std::span<const uint8_t>(apc8) : std::span<const uint8_t>(apc7), body,
                          eightBit ? std::span<const uint8_t>(st8) : std::span<const uint8_t>(st7));
}

void KittyGraphicsEngine::sendKittyOk(const KittyGraphicsControl& control, std::optional<uint32_t> imageId,
                                      std::optional<uint32_t> imageNumber,
                                      std::optional<uint32_t> placementId, std::optional<uint32_t> frame)
{
    // Quiet levels 1 and 2 both silence success; without an id or number there is nobody to tell.
    if (control.suppressResponses != 0 || (!imageId && !imageNumber))
        return;
    std::string keys;
    if (imageId)
        appendKey(keys, 'i', *imageId);
    if (imageNumber)
        appendKey(keys, 'I', *imageNumber);
    if (placementId)
        appendKey(keys, 'p', *placementId);
    if (frame && *frame != 0)
        appendKey(keys, 'r', *frame);
    sendReply(terminal_, keys, "OK");
}

void KittyGraphicsEngine::sendKittyError(const KittyGraphicsControl& control, std::string_view message)
{
    // Errors still reach a program at quiet level 1; they carry the command's own keys.
    if (control.suppressResponses >= 2 || (!control.imageId && !control.imageNumber))
        return;
    std::string keys;
    if (control.imageId)
        appendKey(keys, 'i', *control.imageId);
    if (control.imageNumber)
        appendKey(keys, 'I', *control.imageNumber);
    if (control.placementId)
        appendKey(keys, 'p', *control.placementId);
    sendReply(terminal_, keys, message);
}

} // namespace kestrovan
