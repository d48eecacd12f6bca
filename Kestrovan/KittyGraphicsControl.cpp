#include "Kestrovan/KittyGraphicsControl.h"

#include <array>
#include <limits>

namespace kestrovan {

namespace {

bool isAsciiLetter(uint8_t byte)
{
    return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z');
}

bool isDigit(uint8_t byte)
{
    return byte >= '0' && byte <= '9';
}

/// A decimal with an optional sign, within the 32-bit range of its kind; absent otherwise.
/// Unsigned keys accept a minus only before a value of zero ("-0" reads as 0).
std::optional<int64_t> parseDecimal(std::span<const uint8_t> text, bool isSigned)
{
    size_t index = 0;
    bool negative = false;
    if (text[0] == '+' || text[0] == '-') {
        negative = text[0] == '-';
        index = 1;
    }
    if (index == text.size())
        return std::nullopt;
    // At most 11 bytes reach here, so the magnitude fits a 64-bit integer without checks.
    int64_t magnitude = 0;
    for (; index < text.size(); ++index) {
        if (!isDigit(text[index]))
            return std::nullopt;
        magnitude = magnitude * 10 + (text[index] - '0');
    }
    const int64_t value = negative ? -magnitude : magnitude;
    if (isSigned) {
        if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max())
            return std::nullopt;
        return value;
    }
    if (value < 0 || value > std::numeric_limits<uint32_t>::max())
        return std::nullopt;
    return value;
}

bool isSignedKey(uint8_t key)
{
    return key == 'H' || key == 'V' || key == 'z';
}

/// The 52 letters map to slots 0-51.
size_t slotOf(uint8_t key)
{
    return key >= 'a' ? 26 + (key - 'a') : key - 'A';
}

} // namespace

std::optional<KittyGraphicsParsedCommand> parseKittyGraphicsControl(std::span<const uint8_t> body)
{
    size_t split = 0;
    while (split < body.size() && body[split] != ';')
        ++split;
    const std::span<const uint8_t> controlPart = body.first(split);
    const std::span<const uint8_t> payload = split < body.size() ? body.subspan(split + 1) : body.last(0);

    // One stored word per key letter; a later item with the same key replaces an earlier one.
    // Signed keys store their value as a sign-extended 64-bit number in the same slot.
    std::array<std::optional<int64_t>, 52> stored{};
    size_t start = 0;
    while (start <= controlPart.size()) {
        size_t end = start;
        while (end < controlPart.size() && controlPart[end] != ',')
            ++end;
        const std::span<const uint8_t> item = controlPart.subspan(start, end - start);
        start = end + 1;

        // Only "k=value" with a one-letter key and a value of 1 to 11 bytes is used; anything
        // else is skipped without effect.
        if (item.size() < 3 || item[1] != '=' || !isAsciiLetter(item[0]))
            continue;
        const uint8_t key = item[0];
        const std::span<const uint8_t> value = item.subspan(2);
        if (value.size() > 11)
            continue;
        if (value.size() == 1 && !isDigit(value[0])) {
            // A single non-digit is a character: a=T stores 84.
            stored[slotOf(key)] = value[0];
            continue;
        }
        const std::optional<int64_t> number = parseDecimal(value, isSignedKey(key));
        if (!number)
            return std::nullopt;
        stored[slotOf(key)] = *number;
    }

    auto word = [&](uint8_t key) { return stored[slotOf(key)]; };
    auto integer = [&](uint8_t key) { return word(key).value_or(0); };
    auto optionalId = [&](uint8_t key) -> std::optional<uint32_t> {
        const int64_t value = integer(key);
        if (value == 0)
            return std::nullopt;
        return static_cast<uint32_t>(value);
    };
    // A character key holds a code below 256; anything larger counts as absent.
    auto character = [&](uint8_t key) -> std::optional<uint8_t> {
        const auto value = word(key);
        if (!value || *value < 0 || *value >= 256)
            return std::nullopt;
        return static_cast<uint8_t>(*value);
    };

    KittyGraphicsControl control;
    control.action = character('a').value_or('t');
    const int64_t quiet = integer('q');
    control.suppressResponses = quiet == 0 ? 0 : quiet == 1 ? 1 : 2;
    control.format = word('f').value_or(32);
    control.transmission = character('t').value_or('d');
    control.width = integer('s');
    control.height = integer('v');
    control.cropX = integer('x');
    control.cropY = integer('y');
    control.cropWidth = integer('w');
    control.cropHeight = integer('h');
    control.dataSize = integer('S');
    control.dataOffset = integer('O');
    control.imageId = optionalId('i');
    control.imageNumber = optionalId('I');
    control.placementId = optionalId('p');
    control.parentImageId = optionalId('P');
    control.parentPlacementId = optionalId('Q');
    control.offsetH = integer('H');
    control.offsetV = integer('V');
    control.pixelOffsetX = integer('X');
    control.pixelOffsetY = integer('Y');
    control.unicodePlaceholder = integer('U');
    control.zIndex = integer('z');
    // Only the direct medium is chunked; a file or shared-memory command runs at once.
    control.more = integer('m') > 0 && control.transmission == 'd' ? 1 : 0;
    control.compression = character('o');
    control.columns = integer('c');
    control.rows = integer('r');
    control.cursorPolicy = integer('C');
    control.deleteMode = character('d');
    control.usage = static_cast<uint32_t>(integer('N'));
    return KittyGraphicsParsedCommand{control, payload};
}

} // namespace kestrovan
