// Clipboard write transactions through a terminal with a fake host: streaming, aliases, limits,
// commit, permission and the host's results, byte for byte.
#include "KittyClipboardFakeHost.h"

#include <gtest/gtest.h>

namespace kestrovan::testing {
namespace {

using Location = KittyClipboardLocation;

std::string data(const std::string& mime, const std::string& base64)
{
    return "type=wdata:mime=" + b64(mime) + ";" + base64;
}
std::string alias(const std::string& target, const std::string& names)
{
    return "type=walias:mime=" + b64(target) + ";" + b64(names);
}
const std::string commit = "type=wdata";

/// Feeds the bodies in order; returns what the program received, and what the host was given.
std::string run(ClipboardFixture& f, const std::vector<std::string>& bodies)
{
    std::string out;
    for (const std::string& body : bodies)
        out += f.exchange(body);
    return out;
}

std::string contentText(const KittyClipboardWriteContent& content)
{
    std::string out;
    for (const auto& r : content.representations)
        out += r.mimeType + "=" + std::string(r.data.begin(), r.data.end()) + " ";
    for (const auto& a : content.aliases)
        out += a.name + "->" + a.target + " ";
    return out;
}

TEST(KittyClipboardWriteTests, TransactionsAndTheirReplies)
{
    const std::string done = packet("write", "DONE", ":id=w");
    const std::string einval = packet("write", "EINVAL", ":id=w");
    const std::string efbig = packet("write", "EFBIG", ":id=w");
    const struct
    {
        std::vector<std::string> bodies;
        std::string replies, content;
    } cases[] = {
        {{"type=write:id=w", data("text/plain", b64("hello")), commit}, done, "text/plain=hello "},
        {{"type=write:id=w", data("text/plain", "aGVs"), data("text/plain", "bG8="), commit},
         done,
         "text/plain=hello "},
        {{"type=write:id=w", data("text/plain", "aGVs"), data("TEXT/PLAIN", "bG8="), commit},
         done,
         "text/plain=hello "},
        {{"type=write:id=w", data("text/plain", "aGVs"), data("image/png", "AA=="),
          data("text/plain", "bG8=")},
         einval,
         ""},
        {{"type=write:id=w", data("text/plain", "aGVsbG"), commit}, einval, ""},
        {{"type=write:id=w", data("text/plain", "aG=s")}, einval, ""},
        {{"type=write:id=w", data("text/plain;x=y", "aGVs")}, einval, ""},
        {{"type=write:id=w", "type=wdata;aGVs"}, einval, ""},
        {{"type=write:id=w", "type=wdata:mime=" + b64("a/b")}, einval, ""},
        {{"type=write:id=w", "type=wdata:loc=bogus:id=other;aGVs"}, einval, ""},
        {{"type=write:id=w", "type=walias:mime=" + b64("a/b")}, einval, ""},
        {{"type=write:id=w", "type=walias;" + b64("a/b")}, einval, ""},
        {{"type=write:id=w", data("text/plain", "aGk="), alias("text/plain", "text/plain TEXT/plain"),
          commit},
         done,
         "text/plain=hi "},
        {{"type=write:id=w", data("text/plain", "aGk="), alias("text/html", "text/plain")}, einval, ""},
        {{"type=write:id=w", alias("text/plain", "text/x a/b"), alias("image/png", "A/B"),
          data("text/plain", "aGk="), commit},
         done,
         "text/plain=hi text/x->text/plain "},
        {{"type=write:id=w", alias("text/plain", "text/x"), data("TEXT/X", "aGk=")}, einval, ""},
        {{"type=write:id=w", alias("text/plain", "bad")}, einval, ""},
        {{"type=write:id=w", "type=walias:mime=" + b64("text/plain") + ";" + b64(std::string(70'000, ' '))},
         efbig,
         ""},
        {{"type=write:id=w", commit}, done, ""},
        {{"type=write:id=w;aGk="}, einval, ""},
        {{"type=write:id=w:mime=" + b64("text/plain")}, einval, ""},
        {{"type=write:id=w:pw=!!"}, einval, ""},
        {{"type=wdata:id=w", data("text/plain", "aGk="), commit, "type=walias:id=w"}, "", ""},
        // A second write drops the first without a word; interleaved data goes to the second.
        {{"type=write:id=a", data("text/plain", "aGk="), "type=write:id=w:loc=primary",
          data("text/x", "eW8="), commit},
         done,
         "text/x=yo "},
    };
    // Each case with completions queued and inline, and with 7-bit and 8-bit replies (the packets
    // keep their 7-bit frame).
    for (int variant = 0; variant < 4; ++variant) {
        for (const auto& c : cases) {
            ClipboardFixture f(KittyClipboardPolicy::all, TerminalOptions::defaults(), nullptr,
                               variant % 2 ? Completions::inlined : Completions::queued);
            if (variant >= 2)
                f.terminal->feed("\x1b G");
            std::string joined = "variant " + std::to_string(variant) + ": ";
            for (const std::string& body : c.bodies)
                joined += body + " | ";
            EXPECT_EQ(run(f, c.bodies), c.replies) << joined;
            EXPECT_EQ(f.host->writes.empty() ? "" : contentText(f.host->writes.back()), c.content) << joined;
            if (!c.replies.empty()) {
                EXPECT_FALSE(f.protocol().hasOpenWriteTransaction())
                    << "a reply ends the transaction: " << joined;
            }
            EXPECT_FALSE(f.protocol().hasCommittedWrite()) << joined;
        }
    }
}

TEST(KittyClipboardWriteTests, LimitsPermissionAndHostResults)
{
    {
        TerminalOptions options = TerminalOptions::defaults();
        options.setKittyClipboardMaximumRepresentations(0);
        options.setKittyClipboardMaximumAliases(1);
        ClipboardFixture f(KittyClipboardPolicy::all, options);
        EXPECT_EQ(run(f, {"type=write:id=w", data("a/b", "aGk="), data("c/d", "aGk=")}),
                  packet("write", "EFBIG", ":id=w"))
            << "a stored 0 still allows one type";
        EXPECT_EQ(run(f, {"type=write:id=w", alias("a/b", "c/d c/e")}), packet("write", "EFBIG", ":id=w"));
        EXPECT_EQ(run(f, {"type=write:id=w", alias("a/b", "c/d C/D"), data("a/b", "aGk="), commit}),
                  packet("write", "DONE", ":id=w"))
            << "an alias named again is replaced, not added";
        EXPECT_EQ(contentText(f.host->writes.back()), "a/b=hi C/D->a/b ");
    }

    ClipboardFixture f;
    const std::string who = ":name=" + b64("vim") + ":pw=" + b64("pw");
    f.host->permission = KittyClipboardPermissionResult::deny();
    EXPECT_EQ(
        run(f, {"type=write:id=w" + who, data("text/plain", "aGk="), alias("text/plain", "text/x"), commit}),
        packet("write", "EPERM", ":id=w"));
    EXPECT_EQ(f.host->permissionRequests.back(),
              (KittyClipboardPermissionRequest{KittyClipboardPermissionDirection::write,
                                               Location::standard,
                                               "vim",
                                               {"text/plain", "text/x"},
                                               true}));
    EXPECT_TRUE(f.host->writes.empty());
    f.host->permission = KittyClipboardPermissionResult::allow(true);
    EXPECT_EQ(run(f, {"type=write:id=w" + who, commit}), packet("write", "DONE", ":id=w"));
    f.host->permission = KittyClipboardPermissionResult::deny();
    EXPECT_EQ(run(f, {"type=write:id=w" + who, commit}), packet("write", "DONE", ":id=w"))
        << "the grant covers it";
    EXPECT_EQ(run(f, {"type=write:id=w:loc=primary" + who, commit}), packet("write", "EPERM", ":id=w"));
    f.host->asking = FakeClipboardHost::Answer::refuse;
    EXPECT_EQ(run(f, {"type=write:id=w", commit}), packet("write", "EPERM", ":id=w"));

    f.host->asking = FakeClipboardHost::Answer::now;
    f.host->permission = KittyClipboardPermissionResult::allow(false);
    const char* statuses[] = {"DONE", "EPERM", "ENOSYS", "EBUSY", "EINVAL", "EIO", "EFBIG"};
    for (int result = 0; result < 7; ++result) {
        f.host->writeResult = static_cast<KittyClipboardWriteResult>(result);
        EXPECT_EQ(run(f, {"type=write:id=w", commit}), packet("write", statuses[result], ":id=w"));
    }
    f.host->writing = FakeClipboardHost::Answer::refuse;
    EXPECT_EQ(run(f, {"type=write:id=w", commit}), packet("write", "ENOSYS", ":id=w"));
}

TEST(KittyClipboardWriteTests, ACommittedWriteIsOrphanedByANewerOne)
{
    ClipboardFixture f;
    f.host->asking = FakeClipboardHost::Answer::later;
    EXPECT_EQ(run(f, {"type=write:id=old", data("text/plain", "b2xk"), commit}), "");
    EXPECT_TRUE(f.protocol().hasCommittedWrite());
    EXPECT_EQ(f.exchange("type=write:id=new"), "");
    EXPECT_FALSE(f.protocol().hasCommittedWrite()) << "its data is freed at once";
    EXPECT_EQ(f.release(), "") << "allowed too late: the old write is never answered";
    EXPECT_TRUE(f.host->writes.empty());
    EXPECT_EQ(run(f, {data("text/plain", "bmV3"), commit}), "");
    EXPECT_EQ(f.release(), packet("write", "DONE", ":id=new"));
    EXPECT_EQ(contentText(f.host->writes.back()), "text/plain=new ");
}

TEST(KittyClipboardWriteTests, PayloadOverTheLimitIsRefusedAsItCrossesIt)
{
    // 3 MiB of zero bytes per packet; the limit (64 MiB) is crossed in the 22nd packet.
    ClipboardFixture f;
    const std::string chunk = data("application/octet-stream", std::string(4 << 20, 'A'));
    EXPECT_EQ(f.exchange("type=write:id=big"), "");
    int packets = 0;
    std::string replies;
    while (replies.empty() && packets < 30) {
        replies = f.exchange(chunk);
        ++packets;
    }
    EXPECT_EQ(replies, packet("write", "EFBIG", ":id=big"));
    EXPECT_EQ(packets, 22);
    EXPECT_FALSE(f.protocol().hasOpenWriteTransaction()) << "the data held so far is dropped with it";
    EXPECT_EQ(run(f, {chunk, commit}), "") << "what follows has no transaction";
}

} // namespace
} // namespace kestrovan::testing
