// The OSC 5522 grammar: metadata, ids, the streaming base64 decoder, MIME names, the word scanner
// and the reply packets, byte for byte.
#include "KittyClipboardFakeHost.h"

#include "Kestrovan/KittyClipboardBase64Decoder.h"
#include "Kestrovan/KittyClipboardPacket.h"

#include <gtest/gtest.h>
#include <random>

namespace kestrovan::testing {
namespace {

std::span<const uint8_t> bytesOf(std::string_view text)
{
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

/// The parse result in words: "syntax", "value(OP,id)" or "OP loc id mime name pw".
std::string parsed(std::string_view metadata)
{
    const KittyClipboardMetadata::ParseResult result = KittyClipboardMetadata::parse(bytesOf(metadata));
    if (std::holds_alternative<KittyClipboardMetadata::InvalidSyntax>(result))
        return "syntax";
    if (const auto* invalid = std::get_if<KittyClipboardMetadata::InvalidValue>(&result))
        return "value(" + std::string(wireWord(invalid->operation)) + "," + invalid->id + ")";
    const auto& m = std::get<KittyClipboardMetadata>(result);
    return std::string(wireWord(m.operation)) +
           (m.location == KittyClipboardLocation::primary ? " primary" : " std") + " [" + m.id + "] [" +
           m.mime + "] [" + m.name + "] [" + m.password + "]";
}

TEST(KittyClipboardPacketTests, MetadataParsing)
{
    const std::string longID(600, 'a');
    const std::string longPassword(4097, 'p');
    const struct
    {
        std::string metadata, expected;
    } cases[] = {
        {"type=read", "read std [] [] [] []"},
        {"type=READ", "syntax"},
        {"type=copy", "syntax"},
        {"loc=primary", "syntax"},
        {"", "syntax"},
        {"type=read:", "value(read,)"},
        {"type=read::id=4", "value(read,4)"},
        {"type=write:junk:id=5", "value(write,5)"},
        {"type=read:loc=Primary:id=1", "value(read,1)"},
        {"type=read:loc=clipboard", "value(read,)"},
        {"type=read:loc=", "read std [] [] [] []"},
        {"type=wdata:loc=primary:id=a b/c!d", "wdata primary [abcd] [] [] []"},
        {"type=walias:id=" + longID, "walias std [" + std::string(512, 'a') + "] [] [] []"},
        {"type=wdata:mime=" + b64("text/plain"), "wdata std [] [text/plain] [] []"},
        {"type=wdata:mime=dGV4dC9wbGFpbg", "value(wdata,)"},
        {"type=read:name=" + b64("vim") + ":pw=" + b64("secret"), "read std [] [] [vim] [secret]"},
        {"type=read:pw=" + b64(longPassword), "value(read,)"},
        {"type=read:pw=" + b64("\xff\xfe"), "value(read,)"},
        {"type=write:type=read:id=1:id=2:x=y:=z", "read std [2] [] [] []"},
        {"type=read:mime=", "read std [] [] [] []"},
        {"id=x=y:type=write", "write std [xy] [] [] []"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parsed(c.metadata), c.expected) << c.metadata;
}

/// Decodes `pieces` in order with `limit`: the bytes, or "invalid", "tooLarge", "unfinished".
std::string decodePieces(const std::vector<std::string>& pieces, int64_t limit = 1 << 20)
{
    KittyClipboardBase64Decoder decoder;
    for (const std::string& piece : pieces) {
        if (const auto failure = decoder.append(bytesOf(piece), limit))
            return *failure == KittyClipboardBase64Decoder::Failure::invalid ? "invalid" : "tooLarge";
    }
    if (!decoder.isComplete())
        return "unfinished";
    return std::string(decoder.decoded.begin(), decoder.decoded.end());
}

TEST(KittyClipboardPacketTests, StreamingBase64)
{
    const struct
    {
        std::vector<std::string> pieces;
        int64_t limit;
        std::string expected;
    } cases[] = {
        {{"aGVsbG8="}, 100, "hello"},
        {{"aG", "Vs", "bG8="}, 100, "hello"},
        {{"aGVsbG8", "="}, 100, "hello"},
        {{"YQ==YQ=="}, 100, "aa"},
        {{"YQ=a"}, 100, "invalid"},
        {{"YR=="}, 100, "invalid"},
        {{"YWJ="}, 100, "invalid"},
        {{"Y==="}, 100, "invalid"},
        {{"=AAA"}, 100, "invalid"},
        {{"YWJj", " ZA=="}, 100, "invalid"},
        {{"YW-j"}, 100, "invalid"},
        {{"YWJ"}, 100, "unfinished"},
        {{}, 100, ""},
        {{"YWJjZA=="}, 4, "abcd"},
        {{"YWJjZGVm"}, 4, "tooLarge"},
        {{"YWJj", "ZGVm"}, 5, "tooLarge"},
    };
    for (const auto& c : cases) {
        std::string joined;
        for (const std::string& piece : c.pieces)
            joined += "|" + piece;
        EXPECT_EQ(decodePieces(c.pieces, c.limit), c.expected) << joined << " limit " << c.limit;
    }

    // Any data, cut anywhere, decodes to itself; the limit is never passed by more than a group.
    std::mt19937 random(5522);
    for (int round = 0; round < 200; ++round) {
        std::vector<uint8_t> data(random() % 300);
        for (uint8_t& byte : data)
            byte = static_cast<uint8_t>(random());
        const std::string encoded = base64Encode(data);
        KittyClipboardBase64Decoder decoder;
        for (size_t at = 0; at < encoded.size();) {
            const size_t length = std::min<size_t>(1 + random() % 7, encoded.size() - at);
            ASSERT_FALSE(decoder.append(bytesOf(std::string_view(encoded).substr(at, length)), 1000));
            at += length;
        }
        EXPECT_TRUE(decoder.isComplete());
        EXPECT_EQ(decoder.decoded, data) << encoded;
        if (data.size() > 10) {
            KittyClipboardBase64Decoder limited;
            EXPECT_EQ(limited.append(bytesOf(encoded), 9), KittyClipboardBase64Decoder::Failure::tooLarge);
            EXPECT_LE(limited.decoded.size(), 12u);
        }
    }
}

TEST(KittyClipboardPacketTests, MimeNamesAndWords)
{
    for (const char* valid : {"text/plain", "image/svg+xml", "a/b", "application/x.y-z_1^!#$&"})
        EXPECT_TRUE(KittyClipboardMime::isValid(valid)) << valid;
    for (const char* invalid : {"textplain", "/plain", "text/", "text/plain/x", "text/plain;charset=utf-8",
                                "ab", "text/pl ain", "te\xc3\xa9xt/plain", ""})
        EXPECT_FALSE(KittyClipboardMime::isValid(invalid)) << invalid;
    EXPECT_FALSE(KittyClipboardMime::isValid("a/" + std::string(254, 'b')));
    EXPECT_TRUE(KittyClipboardMime::isValid("a/" + std::string(253, 'b')));
    EXPECT_EQ(KittyClipboardMime::matchKey("Text/PLAIN+X"), "text/plain+x");

    std::vector<std::string> words;
    scanASCIIWords(bytesOf("\t a  bc\r\n\vd\fe "), [&](std::span<const uint8_t> word) {
        words.emplace_back(word.begin(), word.end());
        return words.size() < 3;
    });
    EXPECT_EQ(words, (std::vector<std::string>{"a", "bc", "d"})) << "white space 9-13 and 32; stops on false";
}

TEST(KittyClipboardPacketTests, ReplyPackets)
{
    auto text = [](const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); };
    EXPECT_EQ(text(KittyClipboardProtocol::encodePacket(KittyClipboardOperation::write,
                                                        KittyClipboardStatus::eperm, "7")),
              "\x1b]5522;type=write:status=EPERM:id=7\x1b\\");
    EXPECT_EQ(text(KittyClipboardProtocol::encodePacket(KittyClipboardOperation::read,
                                                        KittyClipboardStatus::efbig, "")),
              "\x1b]5522;type=read:status=EFBIG\x1b\\");
    EXPECT_EQ(text(KittyClipboardProtocol::encodeMimeList({}, std::nullopt, "", std::nullopt)),
              packet("read", "OK") + packet("read", "DATA", ":mime=Lg==;") + packet("read", "DONE"))
        << "an empty list still sends its DATA packet";
    EXPECT_EQ(text(KittyClipboardProtocol::encodeMimeList(
                  {"text/plain", "image/png"}, KittyClipboardLocation::primary, "q", std::string("pw"))),
              packet("read", "OK", ":loc=primary:id=q:pw=" + b64("pw")) +
                  packet("read", "DATA", ":id=q:mime=Lg==;" + b64("text/plain image/png\n")) +
                  packet("read", "DONE", ":id=q"));

    const std::string big(10'000, 'x');
    const std::string expected = readAnswer("1", {{"a/b", big.substr(0, 4096)},
                                                  {"a/b", big.substr(4096, 4096)},
                                                  {"a/b", big.substr(8192)},
                                                  {"c/d", ""}});
    EXPECT_EQ(text(KittyClipboardProtocol::encodeReadSuccess(
                  "1", {{"a/b", std::vector<uint8_t>(big.begin(), big.end())}, {"c/d", {}}})),
              expected)
        << "4096 + 4096 + 1808 bytes, and one empty packet for an empty type";
}

} // namespace
} // namespace kestrovan::testing
