// Standard base64 with padding, and the strict decoder the OSC handlers use on program input.
#include "Kestrovan/Base64.h"
#include "Kestrovan/OscPayloadText.h"

#include <gtest/gtest.h>

namespace kestrovan {
namespace {

std::optional<std::string> decode(std::string_view text)
{
    const std::optional<std::vector<uint8_t>> bytes = base64DecodeStrict(payloadBytes(text));
    if (!bytes)
        return std::nullopt;
    return std::string(bytes->begin(), bytes->end());
}

TEST(Base64Tests, EncodesWithPaddingAndDecodesBack)
{
    // The test vectors of RFC 4648.
    const std::vector<std::pair<std::string, std::string>> vectors{
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
    };
    for (const auto& [plain, encoded] : vectors) {
        EXPECT_EQ(base64Encode(payloadBytes(plain)), encoded);
        EXPECT_EQ(decode(encoded), plain) << encoded;
    }
    std::vector<uint8_t> all(256);
    for (size_t i = 0; i < all.size(); ++i)
        all[i] = static_cast<uint8_t>(i);
    EXPECT_EQ(base64DecodeStrict(payloadBytes(base64Encode(all))), all) << "every byte value round-trips";
}

TEST(Base64Tests, StrictDecodingRejectsAnythingMalformed)
{
    for (const char* text : {"Zg", "Zm9", "Zg=", "Zg===", "====", "Z===", "Zg==Zg==", "Zm 9v", "Zm9v\n",
                             "Zm9-", "Zm9_", "=Zm9", "Zm=v"})
        EXPECT_FALSE(decode(text)) << text;
}

} // namespace
} // namespace kestrovan
