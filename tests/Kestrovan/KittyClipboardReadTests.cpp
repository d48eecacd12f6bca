// Clipboard reads through a terminal with a fake host: listings, type selection, permission,
// grants and the host's answers, byte for byte.
#include "KittyClipboardFakeHost.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

namespace kestrovan::testing {
namespace {

using Location = KittyClipboardLocation;

/// A read request body for `types` (space separated) with extra metadata fields.
std::string readRequest(const std::string& types, const std::string& fields = ":id=r")
{
    return "type=read" + fields + ";" + b64(types);
}

struct ReadFixture : ClipboardFixture
{
    explicit ReadFixture(Completions completions = Completions::queued)
        : ClipboardFixture(KittyClipboardPolicy::all, TerminalOptions::defaults(), nullptr, completions)
    {
        host->contents[Location::standard] = {{"text/plain", bytes("hello")},
                                              {"Image/PNG", bytes("\x89PNG")}};
        host->contents[Location::primary] = {{"text/plain", bytes("selected")}};
    }
};

void checkListingAndTypeSelection(ReadFixture& f);

TEST(KittyClipboardReadTests, ListingAndTypeSelection)
{
    // With completions queued and inline, and with 7-bit and 8-bit replies.
    for (int variant = 0; variant < 4; ++variant) {
        SCOPED_TRACE("variant " + std::to_string(variant));
        ReadFixture f(variant % 2 ? Completions::inlined : Completions::queued);
        if (variant >= 2)
            f.terminal->feed("\x1b G");
        checkListingAndTypeSelection(f);
    }
}

void checkListingAndTypeSelection(ReadFixture& f)
{
    EXPECT_EQ(f.exchange(readRequest(".")),
              packet("read", "OK", ":id=r") +
                  packet("read", "DATA", ":id=r:mime=Lg==;" + b64("text/plain Image/PNG\n")) +
                  packet("read", "DONE", ":id=r"));
    EXPECT_TRUE(f.host->permissionRequests.empty()) << "a listing needs no permission";

    const struct
    {
        std::string request, expected;
    } cases[] = {
        {"text/plain", readAnswer("r", {{"text/plain", "hello"}})},
        {"TEXT/PLAIN text/plain image/png",
         readAnswer("r", {{"text/plain", "hello"}, {"Image/PNG", "\x89PNG"}})},
        {"image/gif text/plain", readAnswer("r", {{"text/plain", "hello"}})},
        {"image/gif", packet("read", "ENOSYS", ":id=r")},
        {". text/plain", ""},
        {"text/plain .", ""},
        {"text", ""},
        {"  \n", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(f.exchange(readRequest(c.request)), c.expected) << c.request;
    EXPECT_EQ(f.exchange(readRequest(". .", "")),
              packet("read", "OK") + packet("read", "DATA", ":mime=Lg==;" + b64("text/plain Image/PNG\n")) +
                  packet("read", "DONE"))
        << "a repeated dot, and no id";
    EXPECT_EQ(f.exchange("type=read:id=r;"), "") << "an empty payload";
    EXPECT_EQ(f.exchange("type=read:id=r;!!!!"), "") << "bad base64";
    EXPECT_EQ(f.exchange("type=read:id=r;" + b64("text/plain").substr(0, 6)), "") << "unfinished base64";
    EXPECT_EQ(f.exchange("type=read:id=r:loc=primary;" + b64("text/plain")),
              readAnswer("r", {{"text/plain", "selected"}}));
    EXPECT_EQ(f.protocol().pendingReadCount(), 0u);

    f.host->contents.erase(Location::primary);
    EXPECT_EQ(f.exchange(readRequest(".", ":loc=primary")), packet("read", "ENOSYS"))
        << "the host lists nothing";
    f.host->listing = FakeClipboardHost::Answer::refuse;
    EXPECT_EQ(f.exchange(readRequest(".")), packet("read", "ENOSYS", ":id=r")) << "the host refuses to list";
}

TEST(KittyClipboardReadTests, PermissionGrantsAndHostAnswers)
{
    ReadFixture f;
    f.host->permission = KittyClipboardPermissionResult::deny();
    EXPECT_EQ(f.exchange(readRequest("text/plain image/png", ":id=r:name=" + b64("vim"))),
              packet("read", "EPERM", ":id=r"));
    ASSERT_EQ(f.host->permissionRequests.size(), 1u);
    EXPECT_EQ(f.host->permissionRequests[0],
              (KittyClipboardPermissionRequest{KittyClipboardPermissionDirection::read,
                                               Location::standard,
                                               "vim",
                                               {"text/plain", "Image/PNG"},
                                               false}))
        << "the prompt names the types as the host spells them; no password, nothing to remember";
    EXPECT_TRUE(f.host->readTypes.empty()) << "nothing is read before permission";
    f.host->asking = FakeClipboardHost::Answer::refuse;
    EXPECT_EQ(f.exchange(readRequest("text/plain")), packet("read", "EPERM", ":id=r"));

    // "Remember" covers the same password, direction and location only.
    f.host->asking = FakeClipboardHost::Answer::now;
    f.host->permission = KittyClipboardPermissionResult::allow(true);
    const std::string who = ":name=" + b64("vim") + ":pw=" + b64("s3");
    f.host->permissionRequests.clear();
    EXPECT_EQ(f.exchange(readRequest("text/plain", ":id=r" + who)),
              readAnswer("r", {{"text/plain", "hello"}}));
    EXPECT_TRUE(f.host->permissionRequests.back().canRememberPassword);
    f.host->permission = KittyClipboardPermissionResult::deny();
    EXPECT_EQ(f.exchange(readRequest("text/plain", ":id=r" + who)),
              readAnswer("r", {{"text/plain", "hello"}}));
    EXPECT_EQ(f.exchange(readRequest("text/plain", ":id=r:name=" + b64("other") + ":pw=" + b64("s3"))),
              readAnswer("r", {{"text/plain", "hello"}}))
        << "the name is required, but not part of the grant";
    EXPECT_EQ(f.exchange(readRequest("text/plain", ":id=r:pw=" + b64("s3"))),
              packet("read", "EPERM", ":id=r"));
    EXPECT_EQ(f.exchange(readRequest("text/plain", ":id=r:loc=primary" + who)),
              packet("read", "EPERM", ":id=r"));
    EXPECT_EQ(f.host->permissionRequests.size(), 3u);
    EXPECT_EQ(f.protocol().rememberedGrants().size(), 1u);

    // The host's answers per type: busy and denied stop the read, unavailable skips the type.
    f.host->permission = KittyClipboardPermissionResult::allow(false);
    f.host->readAnswers["Image/PNG"] = KittyClipboardReadResult::busy();
    EXPECT_EQ(f.exchange(readRequest("image/png text/plain")), packet("read", "EBUSY", ":id=r"));
    f.host->readTypes.clear();
    EXPECT_EQ(f.exchange(readRequest("text/plain image/png")), packet("read", "EBUSY", ":id=r"));
    EXPECT_EQ(f.host->readTypes, (std::vector<std::string>{"text/plain", "Image/PNG"}))
        << "read one after the other";
    f.host->readAnswers["Image/PNG"] = KittyClipboardReadResult::denied();
    EXPECT_EQ(f.exchange(readRequest("image/png")), packet("read", "EPERM", ":id=r"));
    f.host->readAnswers["Image/PNG"] = KittyClipboardReadResult::unavailable();
    EXPECT_EQ(f.exchange(readRequest("image/png text/plain")), readAnswer("r", {{"text/plain", "hello"}}));
    EXPECT_EQ(f.exchange(readRequest("image/png")), packet("read", "ENOSYS", ":id=r"));
    f.host->reading = FakeClipboardHost::Answer::refuse;
    EXPECT_EQ(f.exchange(readRequest("text/plain")), packet("read", "ENOSYS", ":id=r"));
    EXPECT_EQ(f.protocol().pendingReadCount(), 0u);
}

TEST(KittyClipboardReadTests, ReadsInFlightAnswerInCompletionOrderAndAtMostOnce)
{
    ReadFixture f;
    f.host->asking = FakeClipboardHost::Answer::later;
    EXPECT_EQ(f.exchange(readRequest("text/plain", ":id=one")), "");
    EXPECT_EQ(f.exchange(readRequest("text/plain", ":id=two")), "");
    EXPECT_EQ(f.protocol().pendingReadCount(), 2u);
    // The second prompt is answered first.
    std::function<void()> first = f.host->held.front();
    f.host->held.pop_front();
    EXPECT_EQ(f.release(), readAnswer("two", {{"text/plain", "hello"}}));
    f.host->held.push_back(first);
    f.host->held.push_back(first); // a host that calls a completion twice
    EXPECT_EQ(f.release(), readAnswer("one", {{"text/plain", "hello"}}));
    EXPECT_EQ(f.protocol().pendingReadCount(), 0u);
}

} // namespace
} // namespace kestrovan::testing
