// OSC 7501 program-status reports: the capability query, what the parser accepts, storing,
// evicting and clearing records, and what the host is told.
#include "RecordingTerminalDelegate.h"

#include "Kestrovan/Base64.h"

#include <gtest/gtest.h>

namespace kestrovan::testing {
namespace {

using State = TerminalProgramStatusState;

std::string report(std::string_view payload)
{
    return "\x1b]7501;" + std::string(payload) + "\x1b\\";
}

/// The ids of the records, in update order.
std::vector<std::string> ids(const Terminal& t)
{
    std::vector<std::string> out;
    for (const TerminalProgramStatus& record : t.programStatusRecords())
        out.push_back(record.id);
    return out;
}

/// The base64 text of `count` letters "a".
std::string encodedLetters(size_t count)
{
    const std::vector<uint8_t> letters(count, 'a');
    return base64Encode(letters);
}

/// The terminal stores the payload's record under `id` (and nothing else happened).
bool accepted(Terminal& t, std::string_view payload, const std::string& id = "x")
{
    t.clearProgramStatus("");
    t.feed(report(payload));
    return t.programStatus(id).has_value();
}

TEST(TerminalProgramStatusTests, CapabilityQueryIsAnsweredWithItsOwnTerminator)
{
    TerminalFixture fixture;
    Terminal& t = fixture.t();
    RecordingTerminalDelegate& host = *fixture.delegate;

    t.feed("\x1b]7501;?\x07");
    EXPECT_EQ(host.sent(), "\x1b]7501;?\x07");
    host.sends.clear();
    t.feed("\x1b]7501;?\x1b\\");
    EXPECT_EQ(host.sent(), "\x1b]7501;?\x1b\\");

    host.sends.clear();
    t.feed("\x1b G");
    t.feed("\x1b]7501;?\x07\x1b]7501;?\x1b\\");
    EXPECT_EQ(host.sent(), "\x9d"
                           "7501;?\x07\x9d"
                           "7501;?\x9c")
        << "8-bit introducer and terminator when chosen";
    EXPECT_TRUE(host.programStatusChanges.empty());
    EXPECT_TRUE(t.programStatusRecords().empty());
}

TEST(TerminalProgramStatusTests, RecordsAreStoredAsReported)
{
    TerminalFixture fixture;
    Terminal& t = fixture.t();
    RecordingTerminalDelegate& host = *fixture.delegate;

    t.feed(report("id=build:state=working:progress=40:app=make:title=Q29tcGlsaW5nIGE=:msg=c3RlcCAzLzQ"));
    std::optional<TerminalProgramStatus> build = t.programStatus("build");
    ASSERT_TRUE(build);
    EXPECT_EQ(build->state, State::working);
    EXPECT_EQ(build->progress, 40);
    EXPECT_EQ(build->app, "make");
    EXPECT_EQ(build->effectiveApp, "make");
    EXPECT_EQ(build->title, "Compiling a") << "padded base64";
    EXPECT_EQ(build->message, "step 3/4") << "unpadded base64";
    EXPECT_FALSE(build->kind);
    ASSERT_EQ(host.programStatusChanges.size(), 1u);
    EXPECT_EQ(host.programStatusChanges[0], t.programStatusRecords());

    t.feed(report("id=build:state=working:progress=40:app=make:title=Q29tcGlsaW5nIGE=:msg=c3RlcCAzLzQ"));
    EXPECT_EQ(host.programStatusChanges.size(), 2u) << "the host hears every stored report";

    for (const char* progress : {"101", "+5", "-1", "4a", "", "99999999999999999999"}) {
        t.feed(report(std::string("id=build:state=working:progress=") + progress));
        EXPECT_FALSE(t.programStatus("build")->progress) << "progress=" << progress;
    }
    t.feed(report("id=x:state=done:progress=40"));
    EXPECT_FALSE(t.programStatus("x")->progress) << "only working and blocked records have progress";
    t.feed(report("id=x:state=blocked:kind=question:progress=0"));
    EXPECT_EQ(t.programStatus("x")->kind, TerminalProgramStatusKind::question);
    EXPECT_EQ(t.programStatus("x")->progress, 0);
    t.feed(report("id=x:state=blocked:kind=nap"));
    EXPECT_FALSE(t.programStatus("x")->kind) << "an unknown kind is absent";
    t.feed(report("id=x:state=working:kind=question"));
    EXPECT_FALSE(t.programStatus("x")->kind) << "only blocked records have a kind";

    t.feed(report(" id = spaced \t: state = idle :title="));
    ASSERT_TRUE(t.programStatus("spaced")) << "keys and values are trimmed";
    EXPECT_EQ(t.programStatus("spaced")->title, "") << "an empty title decodes to the empty text";
    t.feed(report("state=error"));
    EXPECT_TRUE(t.programStatus("")) << "a report without an id has the empty id";
    t.feed(report("id=y:state=idle:state=done:junk:Up=1:k9=2"));
    EXPECT_EQ(t.programStatus("y")->state, State::done)
        << "a later key replaces an earlier one; pieces without \"=\" or with odd keys are skipped";
}

TEST(TerminalProgramStatusTests, InvalidPayloadsAreIgnoredWhole)
{
    TerminalFixture fixture;
    Terminal& t = fixture.t();

    EXPECT_TRUE(accepted(t, "id=x:state=done"));
    EXPECT_FALSE(accepted(t, "id=x")) << "no state";
    EXPECT_FALSE(accepted(t, "id=x:state=paused")) << "unknown state";
    EXPECT_FALSE(accepted(t, "id=x:state=done:abcdefghijklmnopq=1")) << "a 17-byte key";
    EXPECT_TRUE(accepted(t, "id=x:state=done:abcdefghijklmnop=1")) << "16 bytes are allowed (and skipped)";
    EXPECT_TRUE(accepted(t, "id=x:state=done:Title=!!")) << "an upper-case key only skips its piece";

    EXPECT_TRUE(accepted(t, "id=a/b/c:state=done", "a/b/c"));
    EXPECT_FALSE(accepted(t, "id=a/b/c/d/e/f/g/h/i:state=done", "a/b/c/d/e/f/g/h/i")) << "nine segments";
    EXPECT_TRUE(accepted(t, "id=a/b/c/d/e/f/g/h:state=done", "a/b/c/d/e/f/g/h")) << "eight are allowed";
    EXPECT_FALSE(accepted(t, "id=a//b:state=done", "a//b")) << "an empty segment";
    EXPECT_FALSE(accepted(t, "id=a/:state=done", "a/"));
    EXPECT_FALSE(accepted(t, "id=" + std::string(33, 's') + ":state=done", std::string(33, 's')));
    const std::string longId = std::string(32, 'a') + "/" + std::string(32, 'b') + "/" +
                               std::string(32, 'c') + "/" + std::string(30, 'd');
    ASSERT_EQ(longId.size(), 129u);
    EXPECT_FALSE(accepted(t, "id=" + longId + ":state=done", longId)) << "a 129-byte id";
    EXPECT_TRUE(accepted(t, "id=" + longId.substr(1) + ":state=done", longId.substr(1)));
    EXPECT_FALSE(accepted(t, "id=x,y:state=done", "x,y")) << "the id rule allows no comma";

    EXPECT_TRUE(accepted(t, "id=x:state=done:title=aGk="));
    EXPECT_FALSE(accepted(t, "id=x:state=done:title=aGk==")) << "too much padding";
    EXPECT_FALSE(accepted(t, "id=x:state=done:title=aGk=a")) << "padding inside";
    EXPECT_FALSE(accepted(t, "id=x:state=done:title=aGl=")) << "non-zero trailing bits";
    EXPECT_FALSE(accepted(t, "id=x:state=done:title=aG-k")) << "outside the alphabet";
    EXPECT_FALSE(accepted(t, "id=x:state=done:title=a")) << "a lone sextet";
    EXPECT_FALSE(accepted(t, "id=x:state=done:title=YQE=")) << "a control character (a, U+0001)";
    EXPECT_FALSE(accepted(t, "id=x:state=done:title=woU=")) << "a C1 control (U+0085)";
    EXPECT_FALSE(accepted(t, "id=x:state=done:title=/w==")) << "not UTF-8 (0xFF)";
    EXPECT_TRUE(accepted(t, "id=x:state=done:title=!!")) << "an odd character skips the piece only";

    // A message may decode to 2048 bytes (2732 characters with padding), not to 2049 (2732
    // without); a title to 192 (256 characters).
    ASSERT_EQ(encodedLetters(2048).size(), 2732u);
    ASSERT_EQ(encodedLetters(2049).size(), 2732u);
    EXPECT_TRUE(accepted(t, "id=x:state=done:msg=" + encodedLetters(2048)));
    EXPECT_EQ(t.programStatus("x")->message, std::string(2048, 'a'));
    EXPECT_FALSE(accepted(t, "id=x:state=done:msg=" + encodedLetters(2049))) << "decodes past the limit";
    EXPECT_FALSE(accepted(t, "id=x:state=done:msg=" + encodedLetters(2052))) << "over the raw limit";
    EXPECT_TRUE(accepted(t, "id=x:state=done:title=" + encodedLetters(192)));
    EXPECT_FALSE(accepted(t, "id=x:state=done:title=" + encodedLetters(195))) << "260 characters";

    // A slash, comma or "=" passes the character check but is no app name.
    for (const char* app : {"a/b", "a,b", "a=b"}) {
        EXPECT_TRUE(accepted(t, std::string("id=x:state=done:app=") + app)) << app;
        EXPECT_FALSE(t.programStatus("x")->app) << app;
    }
    EXPECT_TRUE(accepted(t, "id=x:state=done:app=" + std::string(32, 'a')));
    EXPECT_EQ(t.programStatus("x")->app, std::string(32, 'a'));
    EXPECT_FALSE(accepted(t, "id=x:state=done:app=" + std::string(33, 'a'))) << "an app over 32 bytes";

    // The parser never hands on more than 4,092 bytes of an OSC, "7501;" included.
    std::string payload = "id=x:state=done";
    payload.resize(4087, ':');
    t.clearProgramStatus("");
    t.feed("\x1b]7501;" + payload + "\x07");
    EXPECT_TRUE(t.programStatus("x")) << "4,087 bytes are read";
    payload.push_back(':');
    t.clearProgramStatus("");
    t.feed("\x1b]7501;" + payload + "\x07");
    EXPECT_FALSE(t.programStatus("x")) << "4,088 bytes are ignored";
}

TEST(TerminalProgramStatusTests, EffectiveAppComesFromTheNearestAncestor)
{
    TerminalFixture fixture;
    Terminal& t = fixture.t();
    t.feed(report("id=a:state=working:app=tool"));
    t.feed(report("id=a/b:state=working"));
    t.feed(report("id=a/b/c:state=working"));
    t.feed(report("id=ab:state=working"));
    EXPECT_EQ(t.programStatus("a/b")->effectiveApp, "tool");
    EXPECT_EQ(t.programStatus("a/b/c")->effectiveApp, "tool");
    EXPECT_FALSE(t.programStatus("a/b/c")->app) << "the record's own app stays absent";
    EXPECT_FALSE(t.programStatus("ab")->effectiveApp) << "ab is no descendant of a";

    t.feed(report("id=a/b:state=working:app=inner"));
    EXPECT_EQ(t.programStatus("a/b/c")->effectiveApp, "inner") << "the nearest ancestor wins";
    const std::vector<TerminalProgramStatus> records = t.programStatusRecords();
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records.back().id, "a/b") << "updated last";
    EXPECT_EQ(records[1].effectiveApp, "inner") << "read-outs resolve every record";
}

TEST(TerminalProgramStatusTests, ClearingRecords)
{
    TerminalFixture fixture;
    Terminal& t = fixture.t();
    RecordingTerminalDelegate& host = *fixture.delegate;
    for (const char* id : {"a", "a/b", "ab", "c"})
        t.feed(report(std::string("id=") + id + ":state=done"));
    host.programStatusChanges.clear();

    t.feed(report("id=a:state=clear"));
    EXPECT_EQ(ids(t), (std::vector<std::string>{"ab", "c"})) << "a and a/b go, ab stays";
    ASSERT_EQ(host.programStatusChanges.size(), 1u);
    EXPECT_EQ(host.programStatusChanges[0].size(), 2u);

    t.feed(report("id=zzz:state=clear"));
    EXPECT_EQ(host.programStatusChanges.size(), 1u) << "nothing removed, nothing told";

    t.feed(report("state=clear"));
    EXPECT_TRUE(t.programStatusRecords().empty()) << "without an id every record goes";
    EXPECT_EQ(host.programStatusChanges.size(), 2u);

    t.feed(report("id=x:state=working") + report("id=y:state=blocked") + report("id=z:state=done") +
           report("id=w:state=error"));
    host.programStatusChanges.clear();
    t.programStatusProcessExited();
    EXPECT_EQ(ids(t), (std::vector<std::string>{"z", "w"}))
        << "the child's end takes working and blocked jobs";
    EXPECT_EQ(host.programStatusChanges.size(), 1u);
    t.programStatusProcessExited();
    EXPECT_EQ(host.programStatusChanges.size(), 1u);

    t.clearProgramStatus("z");
    EXPECT_EQ(ids(t), std::vector<std::string>{"w"});
    t.clearProgramStatus("nothing");
    EXPECT_EQ(host.programStatusChanges.size(), 2u);

    t.setup(true);
    EXPECT_TRUE(t.programStatusRecords().empty()) << "a full reset removes every record";
    EXPECT_EQ(host.programStatusChanges.size(), 3u);
    EXPECT_TRUE(host.programStatusChanges.back().empty());
}

TEST(TerminalProgramStatusTests, TheLeastRecentlyUpdatedRecordIsEvicted)
{
    TerminalFixture fixture;
    Terminal& t = fixture.t();
    for (int i = 0; i < 256; ++i)
        t.feed(report("id=job" + std::to_string(i) + ":state=working"));
    EXPECT_EQ(t.programStatusRecords().size(), 256u);

    t.feed(report("id=job0:state=done"));
    EXPECT_EQ(t.programStatusRecords().size(), 256u) << "an update evicts nothing";
    EXPECT_EQ(ids(t).back(), "job0") << "and moves the record to the end";

    t.feed(report("id=new:state=idle"));
    const std::vector<std::string> order = ids(t);
    ASSERT_EQ(order.size(), 256u);
    EXPECT_FALSE(t.programStatus("job1")) << "the 257th id evicts the least recently updated";
    EXPECT_TRUE(t.programStatus("job0"));
    EXPECT_EQ(order.front(), "job2");
    EXPECT_EQ(order.back(), "new");
}

TEST(TerminalProgramStatusTests, StoreOperations)
{
    TerminalProgramStatusStore store;
    TerminalProgramStatus record;
    record.id = "a";
    record.effectiveApp = "stored";
    store.replace(record);
    EXPECT_EQ(store.snapshot("a")->effectiveApp, "stored") << "with no app anywhere the stored value stands";
    record.id = "a/b";
    record.state = State::blocked;
    store.replace(record);

    EXPECT_TRUE(store.remove(&TerminalProgramStatusStore::isActiveRecord));
    EXPECT_EQ(store.updateOrder, std::vector<std::string>{"a"});
    EXPECT_FALSE(store.remove(TerminalProgramStatusStore::clearIdPredicate("b")));
    EXPECT_TRUE(store.remove(TerminalProgramStatusStore::clearIdPredicate("")));
    EXPECT_TRUE(store.records.empty());
}

} // namespace
} // namespace kestrovan::testing
