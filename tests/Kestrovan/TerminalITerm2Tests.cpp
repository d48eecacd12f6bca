// OSC 1337: the capability report, inline files handed to the host's image factory with their
// size requests, and every other form passed to the host whole.
#include "RecordingTerminalDelegate.h"

#include <gtest/gtest.h>

namespace kestrovan::testing {
namespace {

std::string osc1337(std::string_view payload)
{
    return "\x1b]1337;" + std::string(payload) + "\x07";
}

std::string text(const std::vector<uint8_t>& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

TerminalOptions withFeatureReport(std::optional<std::string> report)
{
    TerminalOptions options = TerminalOptions::defaults();
    options.featureReport = std::move(report);
    return options;
}

TEST(TerminalITerm2Tests, CapabilityReport)
{
    {
        TerminalFixture fixture(withFeatureReport("T"));
        fixture.t().feed(osc1337("Capabilities"));
        EXPECT_EQ(fixture.delegate->sent(), "\x1b]1337;Capabilities=T\x1b\\");
        fixture.delegate->sends.clear();
        fixture.t().feed("\x1b G"); // S8C1T
        fixture.t().feed(osc1337("Capabilities"));
        EXPECT_EQ(fixture.delegate->sent(), "\x9d"
                                            "1337;Capabilities=T\x9c");
        EXPECT_TRUE(fixture.delegate->iTermContents.empty()) << "the query is answered, not passed on";
    }
    for (const char* report : {"T U", "a;b", "x\x1b[c", "caf\xc3\xa9"}) {
        TerminalFixture fixture(withFeatureReport(report));
        fixture.t().feed(osc1337("Capabilities"));
        EXPECT_TRUE(fixture.delegate->sends.empty())
            << "a report with other characters is not sent: " << report;
    }
    TerminalFixture fixture(withFeatureReport(std::nullopt));
    fixture.t().feed(osc1337("Capabilities"));
    EXPECT_TRUE(fixture.delegate->sends.empty()) << "no report, no reply";
    fixture.t().feed(osc1337("Capabilities=x"));
    EXPECT_EQ(fixture.delegate->iTermContents.size(), 1u) << "any other key goes to the host";
}

TEST(TerminalITerm2Tests, InlineFilesReachTheImageFactory)
{
    TerminalFixture fixture;
    RecordingTerminalDelegate& host = *fixture.delegate;
    fixture.t().feed(osc1337("File=inline=1;width=50%;height=10px:aGVsbG8="));
    ASSERT_EQ(host.images.size(), 1u);
    EXPECT_EQ(text(host.images[0].data), "hello");
    EXPECT_EQ(host.images[0].width, ImageSizeRequest::percent(50));
    EXPECT_EQ(host.images[0].height, ImageSizeRequest::pixels(10));
    EXPECT_TRUE(host.images[0].preserveAspectRatio);

    fixture.t().feed(
        osc1337("File=name=eA==;size=3;inline=0;inline=1;width=3;height=auto;preserveAspectRatio=1:AAAA"));
    ASSERT_EQ(host.images.size(), 2u) << "a later duplicate replaces an earlier one";
    EXPECT_EQ(host.images[1].data, std::vector<uint8_t>(3, 0));
    EXPECT_EQ(host.images[1].width, ImageSizeRequest::cells(3));
    EXPECT_EQ(host.images[1].height, ImageSizeRequest::automatic());
    EXPECT_TRUE(host.images[1].preserveAspectRatio);

    fixture.t().feed(osc1337("File=inline=1;preserveAspectRatio=0:") +
                     osc1337("File=inline=1;preserveAspectRatio=true:"));
    ASSERT_EQ(host.images.size(), 4u) << "an empty file is a file";
    EXPECT_FALSE(host.images[2].preserveAspectRatio);
    EXPECT_FALSE(host.images[3].preserveAspectRatio) << "only \"1\" keeps the aspect ratio";
    EXPECT_TRUE(host.images[2].data.empty());
    EXPECT_TRUE(host.iTermContents.empty());
}

TEST(TerminalITerm2Tests, SizeRequests)
{
    TerminalFixture fixture;
    RecordingTerminalDelegate& host = *fixture.delegate;
    const std::vector<std::pair<std::string, ImageSizeRequest>> cases{
        {"1", ImageSizeRequest::cells(1)},
        {"199", ImageSizeRequest::cells(199)},
        {"0", ImageSizeRequest::automatic()},
        {"200", ImageSizeRequest::automatic()},
        {"100%", ImageSizeRequest::percent(100)},
        {"101%", ImageSizeRequest::automatic()},
        {"0%", ImageSizeRequest::automatic()},
        {"4095px", ImageSizeRequest::pixels(4095)},
        {"4096px", ImageSizeRequest::automatic()},
        {"abc", ImageSizeRequest::automatic()},
        {"", ImageSizeRequest::automatic()},
        {"auto", ImageSizeRequest::automatic()},
        {"px", ImageSizeRequest::automatic()},
        {"%", ImageSizeRequest::automatic()},
        {"-5", ImageSizeRequest::automatic()},
        {"5 px", ImageSizeRequest::automatic()},
        {"99999999999999999999", ImageSizeRequest::automatic()},
    };
    for (const auto& [value, expected] : cases) {
        host.images.clear();
        fixture.t().feed(osc1337("File=inline=1;width=" + value + ";height=" + value + ":AAAA"));
        ASSERT_EQ(host.images.size(), 1u) << value;
        EXPECT_EQ(host.images[0].width, expected) << "width=" << value;
        EXPECT_EQ(host.images[0].height, expected) << "height=" << value;
    }
}

TEST(TerminalITerm2Tests, OtherFormsGoToTheHostOrAreDropped)
{
    TerminalFixture fixture;
    RecordingTerminalDelegate& host = *fixture.delegate;

    const std::vector<std::string> passed{
        "File=inline=0:AAAA", "File=name=x:AAAA", "CurrentDir=/tmp",      "File=width=5;;inline=1:AAAA",
        "File=:AAAA",         "SetUserVar=a=b",   "File=inline=1=1:AAAA",
    };
    for (const std::string& payload : passed)
        fixture.t().feed(osc1337(payload));
    ASSERT_EQ(host.iTermContents.size(), passed.size());
    for (size_t i = 0; i < passed.size(); ++i)
        EXPECT_EQ(text(host.iTermContents[i]), passed[i]) << "passed whole";

    host.iTermContents.clear();
    for (const char* payload : {"SetMark", "", "File=inline=1", "File=inline=1:AAA", "File=inline=1:AA AA",
                                "File=inline=1:AA==AA==", "File=inline=1:A$AA", "\xff=x"})
        fixture.t().feed(osc1337(payload));
    EXPECT_TRUE(host.iTermContents.empty()) << "no \"=\", no \":\", bad base64 or a bad key: dropped";
    EXPECT_TRUE(host.images.empty());
    EXPECT_TRUE(host.sends.empty());

    fixture.t().feed(osc1337("File=inline=1;width=5;;height=5:AAAA"));
    ASSERT_EQ(host.images.size(), 1u) << "the arguments end at an empty segment, keeping those read";
    EXPECT_EQ(host.images[0].width, ImageSizeRequest::cells(5));
    EXPECT_EQ(host.images[0].height, ImageSizeRequest::automatic());
}

} // namespace
} // namespace kestrovan::testing
