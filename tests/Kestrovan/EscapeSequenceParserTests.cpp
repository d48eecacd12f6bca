#include "Kestrovan/Diagnostics.h"
#include "Kestrovan/EscapeSequenceParser.h"
#include "Kestrovan/RecordingParserListener.h"

#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

namespace kestrovan {
namespace {

using testing::RecordingParserListener;

std::span<const uint8_t> asBytes(std::string_view text)
{
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

/// A parser and its recorder; parsing errors reported on standard output are recorded as "error".
class Harness
{
public:
    explicit Harness(size_t maximumOscBytes = EscapeSequenceParser::defaultMaximumOscBytes)
        : parser(maximumOscBytes), recorder(parser)
    {
        previousSink_ = setDiagnosticSink([this](std::string_view line) {
            if (line == "Info: Kestrovan: Parsing error, state: Kestrovan.ParsingState")
                recorder.record("error", "");
            else
                recorder.record("diag", std::string(line));
        });
    }
    ~Harness() { setDiagnosticSink(std::move(previousSink_)); }

    Harness& feed(std::string_view chunk)
    {
        parser.parseBorrowed(asBytes(chunk), recorder);
        return *this;
    }

    /// Feeds the chunks and returns the recording (adjacent prints joined).
    std::string parse(std::initializer_list<std::string_view> chunks)
    {
        for (auto chunk : chunks)
            feed(chunk);
        return recorder.text();
    }

    EscapeSequenceParser parser;
    RecordingParserListener recorder;

private:
    std::function<void(std::string_view)> previousSink_;
};

std::string parsed(std::string_view input)
{
    Harness harness;
    return harness.parse({input});
}

TEST(EscapeSequenceParser, PrintsRunsAndExecutesControls)
{
    EXPECT_EQ(parsed("AB\r\nC"), "print(AB) exec(0d) exec(0a) print(C)");
    EXPECT_EQ(parsed(std::string(40, 'x') + "\t" + std::string(20, 'y')),
              "print(" + std::string(40, 'x') + ") exec(09) print(" + std::string(20, 'y') + ")")
        << "a control after a long run must end the run exactly there";
    // DEL, UTF-8 and 8-bit C1 codes all belong to the printable run: 0x9B is not a CSI in ground.
    EXPECT_EQ(parsed("a\x7f\xc3\xa9\x9b"
                     "1mb"),
              "print(a\\x7f\\xc3\\xa9\\x9b1mb)");
    EXPECT_EQ(parsed("\x1b\x9b"
                     "1m"),
              "csi(m;1)")
        << "0x9B after ESC starts a CSI";
    EXPECT_EQ(parsed("\x85\x90x"), "print(\\x85\\x90x)");
}

TEST(EscapeSequenceParser, CsiParametersAndIntermediates)
{
    EXPECT_EQ(parsed("\x1b[31m"), "csi(m;31)");
    EXPECT_EQ(parsed("\x1b[m"), "csi(m;0)") << "no digits still gives one parameter 0";
    EXPECT_EQ(parsed("\x1b[;5H"), "csi(H;0;5)");
    EXPECT_EQ(parsed("\x1b[?1049h"), "csi(?h;1049)");
    EXPECT_EQ(parsed("\x1b[>c"), "csi(>c;0)");
    EXPECT_EQ(parsed("\x1b[2 q"), "csi( q;2)");
    EXPECT_EQ(parsed("\x1b[1\"q"), "csi(\"q;1)");
    EXPECT_EQ(parsed("\x1b[2;\x9b"
                     "5A"),
              "error() print(5A)")
        << "an 8-bit CSI inside a sequence is a parsing error, not a new sequence";
    EXPECT_EQ(parsed("\x1b[99999A"), "csi(A;65535)");
    EXPECT_EQ(parsed("\x1b[65536A\x1b[65535A\x1b[0065534A"), "csi(A;65535) csi(A;65535) csi(A;65534)");
    EXPECT_EQ(parsed("\x1b[" + std::string(40, '9') + ";2H"), "csi(H;65535;2)");
    // Private markers after a parameter make the sequence invalid; it is ignored up to its final.
    EXPECT_EQ(parsed("\x1b[1?2hx"), "print(x)");
    EXPECT_EQ(parsed("\x1b[ 1hx"), "print(x)") << "a parameter after an intermediate";
    // DEL inside a CSI is ignored; C0 controls execute without cancelling it.
    EXPECT_EQ(parsed("\x1b[3\x7f"
                     "1m"),
              "csi(m;31)");
    EXPECT_EQ(parsed("\x1b[3\x18"
                     "1m"),
              "exec(18) csi(m;31)")
        << "CAN does not cancel a CSI";
    EXPECT_EQ(parsed("\x1b[3\x1a"
                     "1m"),
              "exec(1a) print(1m)")
        << "SUB does";
}

TEST(EscapeSequenceParser, HighBytesInsideSequencesAndStringsAreNotControls)
{
    // U+061B is D8 9B: text in a title, a DCS or a PM must not start a CSI (that asks for a reply).
    using namespace std::string_view_literals;
    const struct
    {
        std::string_view input;
        std::string_view expected;
    } cases[] = {
        {"\x1bP$q\xd8\x9b"
         "c\x1b\\"sv,
         "hook($q;0) put(\\xd8\\x9bc) unhook() esc(\\)"},
        {"\x1bP\x9b"
         "cq\x1b\\x",
         "esc(\\) print(x)"},
        {"\x1b^\xd8\x9b"
         "c\x1b\\",
         "esc(\\)"},
        {"\x1b^\xc3\xa9\x1b\\x", "esc(\\) print(x)"},
        {"\x1bX\x90\x9d\x9f"
         "c\x9cx",
         "print(x)"},
        {"\x1b]0;\x00\x9b"
         "c\x07"sv,
         "osc(0;\\x9bc;07)"},
        {"\x1b]0;\x01\x90\x9d"
         "c\x07",
         "osc(0;\\x90\\x9dc;07)"},
        {"\x1b_G\x01\x9b"
         "c\x1b\\",
         "apc(G;\\x9bc) esc(\\)"},
        {"\x1b[1;\xd8\x9b"
         "c",
         "error() print(\\x9bc)"},
        {"\x1b[?1$\x85"
         "c",
         "error() print(c)"},
        {"\x1b[1?\x9b"
         "2cx",
         "print(x)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parsed(c.input), c.expected) << "input " << testing::escapedBytes(asBytes(c.input));
    // Split across chunks the same.
    Harness chunked;
    EXPECT_EQ(chunked.parse({"\x1b]0;\xd8",
                             "\x9b"
                             "c",
                             "\x07"}),
              "osc(0;\\xd8\\x9bc;07)");
}

TEST(EscapeSequenceParser, ParameterLimitAndColonMask)
{
    std::string params24 = "\x1b[";
    for (int k = 0; k < 23; ++k)
        params24 += std::to_string(k + 1) + ";";
    params24 += "24m";
    std::string expected24 = "csi(m;";
    for (int k = 0; k < 24; ++k)
        expected24 += (k ? ";" : "") + std::to_string(k + 1);
    EXPECT_EQ(parsed(params24), expected24 + ")") << "24 parameters are dispatched";

    std::string params25 = "\x1b[" + std::string(24, ';') + "1mx";
    EXPECT_EQ(parsed(params25), "print(x)") << "25 parameters drop the sequence";
    EXPECT_EQ(parsed("\x1b[" + std::string(30, ';') + "1m\x1b[2mx"), "csi(m;2) print(x)")
        << "the next sequence starts with a fresh limit";

    Harness harness;
    EXPECT_EQ(harness.parse({"\x1b[4:3m"}), "csi(m;4:3)");
    EXPECT_EQ(harness.parser.parsColonMask(), 1u);
    EXPECT_EQ(harness.parse({"\x1b[4;3m"}), "csi(m;4:3) csi(m;4;3)");
    EXPECT_EQ(harness.parser.parsColonMask(), 0u);
    harness.recorder.clear();
    EXPECT_EQ(harness.parse({"\x1b[1;38:2::10:20:30;4m"}), "csi(m;1;38:2:0:10:20:30;4)");
    EXPECT_EQ(harness.parser.parsColonMask(), 0b111110u);
    harness.recorder.clear();
    EXPECT_EQ(harness.parse({"\x1b[1:2H"}), "csi(H;1;2)");
    EXPECT_EQ(harness.parser.parsColonMask(), 0b111110u) << "only SGR publishes its colon mask";
}

TEST(EscapeSequenceParser, EscSequences)
{
    EXPECT_EQ(parsed("\x1b"
                     "7\x1b"
                     "8"),
              "esc(7) esc(8)");
    EXPECT_EQ(parsed("\x1b(B\x1b#8\x1b,A"), "esc((B) esc(#8) esc(,A)");
    EXPECT_EQ(parsed("\x1b\x7f"
                     "7"),
              "esc(7)")
        << "DEL is ignored after ESC";
    EXPECT_EQ(parsed("\x1b\n7"), "exec(0a) esc(7)") << "C0 executes inside an escape sequence";
    EXPECT_EQ(parsed("\x1b\x1b[1m"), "csi(m;1)") << "a second ESC restarts the sequence";
    EXPECT_EQ(parsed("\x1b" + std::string(20, ' ') + "Fx"), "print(x)")
        << "an escape sequence with more intermediates than the store holds is dropped";
}

TEST(EscapeSequenceParser, ParsingErrors)
{
    // A byte at or above 0xA0 inside a CSI abandons it; what follows is parsed from ground.
    EXPECT_EQ(parsed("\x1b[1\xc3\xa9m"), "error() print(\\xa9m)");
    EXPECT_EQ(parsed("\x1b[:1mx"), "error() print(1mx)") << "a colon cannot open a CSI";

    // 0x19 (EM) is an error in every state and returns to ground.
    const std::vector<std::pair<std::string, std::string>> prefixes = {
        {"", ""},
        {"\x1b", ""},
        {"\x1b(", ""},
        {"\x1b[", ""},
        {"\x1b[1", ""},
        {"\x1b[ ", ""},
        {"\x1b[1?", ""},
        {"\x1bX", ""},
        {"\x1b]0;a", ""},
        {"\x1b_Ga", ""},
        {"\x1bP", ""},
        {"\x1bP1", ""},
        {"\x1bP1:", ""},
        {"\x1bP ", ""},
        {"\x1bPqab", "hook(q;0) put(ab) "},
        {"\x1b]7501;a\x1b", ""},
    };
    for (const auto& [prefix, expected] : prefixes)
        EXPECT_EQ(parsed(prefix + "\x19x"), expected + "error() print(x)")
            << "after " << testing::escapedBytes(asBytes(prefix));

    Harness silent;
    silent.recorder.silent = true;
    EXPECT_EQ(silent.parse({"\x19x\x1b[\xa0y"}), "print(xy)") << "silentLog suppresses the report";

    std::vector<std::string> lines;
    auto previous = setDiagnosticSink([&](std::string_view line) { lines.emplace_back(line); });
    EscapeSequenceParser parser;
    RecordingParserListener recorder(parser);
    parser.parseBorrowed(asBytes("\x19"), recorder);
    setDiagnosticSink(std::move(previous));
    EXPECT_EQ(lines,
              std::vector<std::string>{"Info: Kestrovan: Parsing error, state: Kestrovan.ParsingState"});
}

TEST(EscapeSequenceParser, OscTerminatorsAndNumbers)
{
    EXPECT_EQ(parsed("\x1b]0;title\x07"), "osc(0;title;07)");
    EXPECT_EQ(parsed("\x1b]0;title\x1b\\"), "osc(0;title;1b) esc(\\)") << "ESC \\ ends as ESC dispatch of \\";
    EXPECT_EQ(parsed("\x1b]0;title\x9c"), "osc(0;title;9c)");
    EXPECT_EQ(parsed("\x1b\x9d"
                     "2;a;b\x07"),
              "osc(2;a;b;07)")
        << "8-bit OSC after ESC (in ground it would be printed)";
    EXPECT_EQ(parsed("\x1b]0;t\x18x"), "print(x)") << "CAN abandons the OSC";
    EXPECT_EQ(parsed("\x1b]0;t\x1ax"), "print(x)") << "SUB abandons the OSC";
    EXPECT_EQ(parsed("\x1b]0;t\x1b[1m"), "osc(0;t;1b) csi(m;1)") << "ESC ends the OSC and starts a sequence";

    EXPECT_EQ(parsed("\x1b]112\x07"), "osc(112;;07)") << "no ';' gives an empty payload";
    EXPECT_EQ(parsed("\x1b]x;y\x07\x1b]\x07\x1b];a\x07\x1b]99999999999;a\x07\x1b]-1;a\x07"), "")
        << "non-numeric, empty, unnumbered, overflowing and negative OSCs are dropped";
    EXPECT_EQ(parsed("\x1b]0;a\x01\x7f"
                     "b\x07"),
              "osc(0;a\\x7fb;07)")
        << "controls are dropped from the payload, DEL is payload";
    // 0x9C continues a UTF-8 character (U+2713 is E2 9C 93); after a complete character it is ST.
    EXPECT_EQ(parsed("\x1b]0;\xe2\x9c\x93\x9c"), "osc(0;\\xe2\\x9c\\x93;9c)");
    EXPECT_EQ(parsed("\x1b]0;a\x85"
                     "b\x07"),
              "osc(0;a\\x85b;07)")
        << "C1 bytes inside a payload run are payload";
    EXPECT_EQ(parsed("\x1b]0;a\x01\x85"
                     "b\x07"),
              "osc(0;a\\x85b;07)")
        << "a C1 byte that is looked up (after a dropped control) is payload as well";

    Harness handlers;
    handlers.parser.oscHandlers[4] = [](std::span<const uint8_t>) {};
    EXPECT_EQ(handlers.parse({"\x1b]4;x\x07"}), "osc(4;x;07)") << "the terminal consults oscHandlers itself";
}

TEST(EscapeSequenceParser, OscLimit)
{
    Harness harness(16);
    const std::string fits = "\x1b]0;" + std::string(14, 'a') + "\x07";
    const std::string over = "\x1b]0;" + std::string(15, 'a') + "\x07";
    EXPECT_EQ(harness.parse({fits}), "osc(0;" + std::string(14, 'a') + ";07)");
    harness.recorder.clear();
    EXPECT_EQ(harness.parse({over, "x"}), "print(x)") << "one byte over maximumOscBytes is never dispatched";
    harness.recorder.clear();
    EXPECT_EQ(harness.parse({"\x1b]1;b\x07"}), "osc(1;b;07)") << "the next OSC is not affected";

    // After an overflow the tail of the payload is still tracked, so 0x9C inside a UTF-8 character
    // does not end the OSC early and the one after it does.
    harness.recorder.clear();
    EXPECT_EQ(harness.parse({"\x1b]0;" + std::string(20, 'a') + "\xe2\x9c\x93\x9c" + "z"}), "print(z)");
    harness.recorder.clear();
    EXPECT_EQ(harness.parse({"\x1b]0;" + std::string(20, 'a') + "\xe2", "\x9c", "\x93\x9c", "z"}),
              "print(z)");
}

TEST(EscapeSequenceParser, ProgramStatusOsc)
{
    EXPECT_EQ(parsed("\x1b]7501;id=a:state=working\x1b\\x"), "osc(7501;id=a:state=working;1b) print(x)")
        << "ESC \\ completes a program-status OSC without an ESC dispatch";
    EXPECT_EQ(parsed("\x1b]7501;?\x07"), "osc(7501;?;07)");
    EXPECT_EQ(parsed("\x1b]7501;x\x1b"
                     "7"),
              "esc(7)")
        << "ESC followed by anything but \\ drops the OSC and acts as that sequence";
    EXPECT_EQ(parsed("\x1b]7501;x\x1b[1m"), "csi(m;1)");
    EXPECT_EQ(parsed("\x1b]7501;x\x1b\x1b]7501;y\x07"), "osc(7501;y;07)");
    EXPECT_EQ(parsed("\x1b]7501;a\x01"
                     "b\x07"),
              "osc(7501;a\\x01b;07)")
        << "controls are kept in a program-status payload";
    EXPECT_EQ(parsed("\x1b]75\x01"
                     "01;a\x07"),
              "")
        << "a payload that becomes 7501; only after a dropped byte is not a program-status report";
    EXPECT_EQ(parsed("\x1b]07501;a\x07\x1b]7501\x07"), "");

    // Resume path: the ESC and the \ in different chunks.
    Harness resumed;
    EXPECT_EQ(resumed.parse({"\x1b]7501;id=a:state=done", "\x1b", "\\", "x"}),
              "osc(7501;id=a:state=done;1b) print(x)");
    resumed.recorder.clear();
    EXPECT_EQ(resumed.parse({"\x1b]7501;a\x1b", "[2J"}), "csi(J;2)");

    // The program-status cap is 4,092 bytes of payload including "7501;".
    const std::string atCap = "\x1b]7501;" + std::string(4092 - 5, 'a');
    EXPECT_EQ(parsed(atCap + "\x1b\\"), "osc(7501;#4087;1b)");
    EXPECT_EQ(parsed(atCap + "a\x1b\\"), "esc(\\)") << "one byte over the cap: dropped, ESC \\ ends it";
    EXPECT_EQ(parsed(atCap + "\x01\x07"), "") << "a kept control byte counts against the cap";
    Harness smallCap(100);
    EXPECT_EQ(smallCap.parse({"\x1b]7501;" + std::string(96, 'a') + "\x07"}), "")
        << "a smaller maximumOscBytes caps program-status reports too";
}

TEST(EscapeSequenceParser, Utf8SplitAcrossChunksInsideOsc)
{
    Harness harness;
    EXPECT_EQ(harness.parse({"\x1b]0;\xe2", "\x82\xac\x07"}), "osc(0;\\xe2\\x82\\xac;07)");
    harness.recorder.clear();
    EXPECT_EQ(harness.parse({"\x1b]0;\xe2", "\x9c\x93", "\x9c"}), "osc(0;\\xe2\\x9c\\x93;9c)");
    harness.recorder.clear();
    EXPECT_EQ(harness.parse({"\x1b]0;\xf0\x9f", "\x98", "\x80\x07"}), "osc(0;\\xf0\\x9f\\x98\\x80;07)");
    harness.recorder.clear();
    EXPECT_EQ(harness.parse({"\x1b]0;a", "\x85", "b\x07"}), "osc(0;a\\x85b;07)")
        << "a payload run cut by a chunk boundary goes on in the next chunk";
}

TEST(EscapeSequenceParser, Apc)
{
    EXPECT_EQ(parsed("\x1b_Gabc\x1b\\"), "apc(G;abc) esc(\\)");
    EXPECT_EQ(parsed("\x1b[1m\x9fGa=T\x07"), "csi(m;1) print(\\x9fGa=T) exec(07)")
        << "8-bit APC is printed in ground";
    EXPECT_EQ(parsed("\x1b\x9fGa=T\x07"), "apc(G;a=T)");
    EXPECT_EQ(parsed("\x1b_\x07\x1b_Gx\x18\x1b_Gy\x1a"), "") << "empty and cancelled APCs are dropped";
    EXPECT_EQ(parsed("\x1b_Ga\x01"
                     "b\x07"),
              "apc(G;ab)");
    EXPECT_EQ(parsed("\x1b_Ga\x9c"
                     "b\x85\x07"),
              "apc(G;a\\x9cb\\x85)")
        << "0x9C and C1 bytes inside an APC are payload";
}

TEST(EscapeSequenceParser, ApcCap)
{
    // The cap is fixed at 68,157,440 bytes; building the payload takes well under a second.
    const size_t cap = EscapeSequenceParser::maximumApcBytes;
    std::string payload(cap + 1, 'A');
    payload[0] = 'G';
    Harness harness;
    harness.feed("\x1b_").feed(std::string_view(payload).substr(0, cap)).feed("\x07");
    EXPECT_EQ(harness.recorder.text(), "apc(G;#" + std::to_string(cap - 1) + ")") << "exactly at the cap";
    harness.recorder.clear();
    harness.feed("\x1b_").feed(payload).feed("\x07x");
    EXPECT_EQ(harness.recorder.text(), "print(x)") << "one byte over the cap";
}

TEST(EscapeSequenceParser, DcsHookPutUnhook)
{
    // DEL inside the payload is dropped and splits it into two puts.
    Harness harness;
    EXPECT_EQ(harness.parse({"\x1bP1$qab\x7f"
                             "cd\x1b\\"}),
              "hook($q;1) put(ab) put(cd) unhook() esc(\\)");
    EXPECT_EQ(harness.parser.dcsHandler(), nullptr);

    EXPECT_EQ(parsed("\x1b\x90q#0;2\x9c"), "hook(q;0) put(#0;2) unhook()");
    EXPECT_EQ(parsed("\x1bPqa\nb\xc3\xa9\x1b\\"), "hook(q;0) put(a\\x0ab\\xc3\\xa9) unhook() esc(\\)")
        << "C0 controls and bytes from 0xA0 up are payload";
    EXPECT_EQ(parsed("\x1bP" + std::string(30, ';') + "qab\x1b\\x"), "esc(\\) print(x)")
        << "too many parameters: no handler, payload discarded";

    Harness chunked;
    EXPECT_EQ(chunked.parse({"\x1bPqab", "cd", "\x1b\\"}), "hook(q;0) put(ab) put(cd) unhook() esc(\\)")
        << "pending payload is put at the end of each chunk";

    // SUB cancels the DCS: no unhook, handler dropped. A C1 byte is payload.
    Harness cancelled;
    EXPECT_EQ(cancelled.parse({"\x1bPqab\x1a"
                               "cd"}),
              "hook(q;0) put(ab) exec(1a) print(cd)")
        << "what arrived before the cancel is put, as it would have been at a chunk end";
    EXPECT_EQ(cancelled.parser.dcsHandler(), nullptr);
    cancelled.recorder.clear();
    EXPECT_EQ(cancelled.parse({"\x1bPqab\x9b"
                               "1m\x1b\\"}),
              "hook(q;0) put(ab\\x9b1m) unhook() esc(\\)");
    EXPECT_EQ(cancelled.parser.dcsHandler(), nullptr);
}

TEST(EscapeSequenceParser, DcsHandlerFactory)
{
    Harness harness;
    std::string seenCollect;
    int64_t seenParameter = -1;
    harness.parser.dcsHandlerFactory = [&](std::span<const uint8_t> collect,
                                           const CsiParameters& parameters) {
        seenCollect = testing::escapedBytes(collect);
        seenParameter = parameters[0];
        return std::shared_ptr<DcsHandler>(
            std::make_shared<RecordingParserListener::Handler>(harness.recorder, "factory"));
    };
    EXPECT_EQ(harness.parse({"\x1bP7+qx\x1b\\"}), "factory(+q;7) put(x) unhook() esc(\\)");
    EXPECT_EQ(seenCollect, "+");
    EXPECT_EQ(seenParameter, 7);

    harness.recorder.clear();
    harness.parser.dcsHandlerFactory = [](std::span<const uint8_t>, const CsiParameters&) {
        return std::shared_ptr<DcsHandler>();
    };
    EXPECT_EQ(harness.parse({"\x1bPqx\x9c"}), "hook(q;0) put(x) unhook()")
        << "a factory without a handler falls back to the built-ins";
}

TEST(EscapeSequenceParser, SosAndPmStringsAreIgnored)
{
    EXPECT_EQ(parsed("\x1bXjunk\x1b\\ok"), "esc(\\) print(ok)");
    EXPECT_EQ(parsed("\x1b\x9ejunk\x18\x07\x9cok"), "print(ok)");
}

TEST(EscapeSequenceParser, ResetDuringParse)
{
    // ESC c resets the parser from inside the dispatch; the rest of the chunk goes on from the
    // reset state, and a sequence it leaves unfinished completes in the next chunk.
    Harness harness;
    EXPECT_EQ(harness.parse({"ab\x1b"
                             "c\x1b[3",
                             "1mX"}),
              "print(ab) esc(c) csi(m;31) print(X)");
    EXPECT_EQ(harness.parser.resetSerial, 1u);
    EXPECT_FALSE(harness.parser.didResetDuringParse) << "cleared when the outermost parse ends";
    EXPECT_EQ(harness.parser.parseDepth, 0);

    // A reset between chunks forgets a partial OSC, CSI parameters and the DCS handler.
    harness.recorder.clear();
    harness.feed("\x1b]0;abc");
    harness.parser.reset();
    EXPECT_EQ(harness.parse({"\x07x"}), "exec(07) print(x)");
    EXPECT_EQ(harness.parser.resetSerial, 1u) << "a reset outside a parse is not counted";
    harness.recorder.clear();
    harness.feed("\x1bPqab");
    EXPECT_NE(harness.parser.dcsHandler(), nullptr);
    harness.parser.reset();
    EXPECT_EQ(harness.parser.dcsHandler(), nullptr);
    EXPECT_EQ(harness.parse({"cd"}), "hook(q;0) put(ab) print(cd)");
    harness.recorder.clear();
    harness.feed("\x1b[5;");
    harness.parser.reset();
    EXPECT_EQ(harness.parse({"m"}), "print(m)");

    // A reset from inside a DCS payload (handler code calling back into the terminal).
    struct ResettingHandler : DcsHandler
    {
        EscapeSequenceParser* parser;
        void hook(std::span<const uint8_t>, const CsiParameters&, uint8_t) override {}
        void put(std::span<const uint8_t>) override { parser->reset(); }
        void unhook() override {}
    };
    Harness inPut;
    auto handler = std::make_shared<ResettingHandler>();
    handler->parser = &inPut.parser;
    inPut.parser.dcsHandlerFactory = [&](std::span<const uint8_t>, const CsiParameters&) {
        return std::shared_ptr<DcsHandler>(handler);
    };
    EXPECT_EQ(inPut.parse({"\x1bPqab\x7f"
                           "cd\x1b[1m"}),
              "print(cd) csi(m;1)");
}

// Every input, cut into two chunks at every byte boundary and fed one byte at a time, gives the
// same calls as the whole input (adjacent prints and DCS puts joined).
TEST(EscapeSequenceParser, SplittingAnywhereGivesTheSameCalls)
{
    const std::vector<std::string> corpus = {
        "AB\x1b[31mC\x1b[0m\r\n" + std::string(40, 'x') + "\t\x1b[38:2::10:20:30;4:3m",
        "\x1b[?1049h\x1b[>c\x1b[99999A\x1b[;5H\x1b[2 q\x1b[3\x18"
        "1m\x1b[" +
            std::string(26, ';') + "1m",
        "\x1b]0;title\x07x\x1b]2;t\x1b\\y\x1b]2;t\x9cz\x1b]0;a\x18"
        "b\x1b]0;a\x1a"
        "c",
        "\x1b]0;\xe2\x82\xac\xe2\x9c\x93\xf0\x9f\x98\x80" + std::string(40, 'u') + "\x85\x9c",
        "\x1b]0;a\x85"
        "b\x01\x85q\x07\x1b]8;;http://example.com/\xc3\xa9\x1b\\link",
        "\x1b]7501;id=a:state=working\x1b\\\x1b]7501;x\x1b"
        "7\x1b]7501;a\x01"
        "b\x07\x1b]75\x01"
        "01;a\x07",
        "\x1b]7501;" + std::string(4090, 'p') + "\x1b\\after",
        "\x1b_Gabc\x1b\\\x1b\x9fGx\x85\x9cy\x07\x1b_G" + std::string(50, '=') + "\x01\x07",
        "\x1bP1$qab\x7f"
        "cd\x1b\\\x1b\x90q#0;2;0;0;0\x9c\x1bPqab\x1a"
        "cd\x1bP+q\xc3\xa9\n\x1b\\",
        "\x1b[1\xa0m\x19x\x1b[:1m\x1bXjunk\x1b\\ok\x1b\x9ejunk\x9cok",
        "ab\x1b"
        "c\x1b[31mX\x1b"
        "c\x1b]0;t\x07\x1b"
        "c\x1bPqz\x1b\\",
        "a\x7f\xc3\xa9\x9b"
        "1mb\x1b\x9b"
        "1m\x1b(B\x1b#8\x1b\n7",
        "\x1b[38;2;1;22;255;48;2;0;99999;7m\xe2\x96\x80\x1b[48;2;1;2;3;38;2;4;5;6;48;2;7;8;9;38;2;1;2;3;48;2;"
        "4;5;6mX\x1b[38;2;1;2;3;48;2;4:5;6;1mY\x1b[38;2;12\n3;4;5mZ",
    };
    for (size_t maximumOscBytes : {EscapeSequenceParser::defaultMaximumOscBytes, size_t{12}}) {
        for (const auto& input : corpus) {
            Harness whole(maximumOscBytes);
            whole.feed(input);
            const std::string expected = whole.recorder.normalizedText();
            for (size_t cut = 1; cut < input.size(); ++cut) {
                Harness split(maximumOscBytes);
                split.feed(std::string_view(input).substr(0, cut)).feed(std::string_view(input).substr(cut));
                ASSERT_EQ(split.recorder.normalizedText(), expected)
                    << "cut at " << cut << " of " << testing::escapedBytes(asBytes(input))
                    << " (maximumOscBytes " << maximumOscBytes << ")";
            }
            Harness bytewise(maximumOscBytes);
            for (char byte : input)
                bytewise.feed(std::string_view(&byte, 1));
            ASSERT_EQ(bytewise.recorder.normalizedText(), expected)
                << "byte by byte: " << testing::escapedBytes(asBytes(input));
        }
    }

    // Random cuts of the whole corpus, many chunks each.
    std::string all;
    for (const auto& input : corpus)
        all += input;
    Harness whole;
    whole.feed(all);
    std::mt19937 random(7501);
    for (int round = 0; round < 200; ++round) {
        Harness split;
        size_t at = 0;
        while (at < all.size()) {
            const size_t length = std::min(all.size() - at, size_t{1} + random() % 40);
            split.feed(std::string_view(all).substr(at, length));
            at += length;
        }
        ASSERT_EQ(split.recorder.normalizedText(), whole.recorder.normalizedText()) << "round " << round;
    }
}

// Whole chunks take the parser's inlined roads (printable runs, C0 controls in ground, ESC [ with
// parameters and a final byte, parameters read a block at a time); one byte at a time mostly takes
// the table's. Random input made of sequences like real ones, of bytes those roads test for and of
// near misses must give the same calls either way.
TEST(EscapeSequenceParser, InlinedRoadsAgreeWithTheTable)
{
    static const char* const pieces[] = {
        "\x1b[",
        "\x1b",
        "[",
        "0",
        "1",
        "38",
        "99999",
        ";",
        ":",
        "m",
        "H",
        "?",
        " ",
        "$",
        "<",
        "\x18",
        "\x19",
        "\x1a",
        "\r",
        "\n",
        "\x07",
        "\x7f",
        "\x9b",
        "\xc3\xa9",
        "word",
        "x",
        "\x1b]0;t\x07",
        "\x1bPq",
        "\x1b\\",
        "\x1b(B",
        "\x1b"
        "c",
    };
    static const char finals[] = "mmmmHJK?$ <\x18\x1b\x7f\r";
    std::mt19937 random(2024);
    // True colours as programs write them and near misses, opening a sequence one after another
    // (five of them pass the 24-parameter limit).
    static const char* const colourOpeners[] = {
        "38;2;",        "48;2;", "38;5;", "58;2;", "38;2:", "38;2", "48;", "38;2;1;2;3;", "48;2;255;255;255;",
        "38;2;999;0;0;"};
    // A CSI with 0-20 parameters of 0-6 digits, ';' or ':' between them, and mostly a final byte.
    const auto csi = [&] {
        std::string out = random() % 8 == 0 ? "\x1b[:" : "\x1b[";
        for (int opened = static_cast<int>(random() % 7) - 1; opened > 0; --opened)
            out += colourOpeners[random() % std::size(colourOpeners)];
        const int count = static_cast<int>(random() % (random() % 4 == 0 ? 21 : 6));
        for (int k = 0; k < count; ++k) {
            if (k > 0)
                out += random() % 3 == 0 ? ':' : ';';
            const int digits = static_cast<int>(random() % 7);
            for (int d = 0; d < digits; ++d)
                out += static_cast<char>('0' + random() % 10);
        }
        out += finals[random() % (sizeof(finals) - 1)];
        return out;
    };
    for (int round = 0; round < 2000; ++round) {
        std::string input;
        const int count = 1 + static_cast<int>(random() % 40);
        for (int k = 0; k < count; ++k)
            input += random() % 2 ? csi() : pieces[random() % std::size(pieces)];
        Harness whole;
        whole.feed(input);
        Harness bytewise;
        for (char byte : input)
            bytewise.feed(std::string_view(&byte, 1));
        ASSERT_EQ(bytewise.recorder.normalizedText(), whole.recorder.normalizedText())
            << "input " << testing::escapedBytes(asBytes(input));
    }
}

TEST(TransitionTable, RowsOfEveryState)
{
    using S = ParserState;
    using A = ParserAction;
    struct Row
    {
        S state;
        uint8_t byte;
        A action;
        S next;
    };
    const TransitionTable& t = TransitionTable::shared();
    const std::vector<Row> rows = {
        // Shared rows, in a few states.
        {S::ground, 0x19, A::error, S::ground},
        {S::csiParam, 0x1A, A::execute, S::ground},
        {S::dcsIgnore, 0x1B, A::clear, S::escape},
        {S::escape, 0x84, A::execute, S::ground},
        {S::escape, 0x90, A::clear, S::dcsEntry},
        {S::ground, 0x98, A::ignore, S::sosPmApcString},
        {S::escapeIntermediate, 0x9B, A::clear, S::csiEntry},
        {S::escape, 0x9C, A::ignore, S::ground},
        {S::escapeIntermediate, 0x9D, A::stringStart, S::oscString},
        {S::ground, 0x9F, A::stringStart, S::apcString},
        // Inside a sequence or a string, 0x80-0x9F are not C1 controls; 0x9C still ends strings.
        {S::csiEntry, 0x90, A::error, S::ground},
        {S::csiParam, 0x9B, A::error, S::ground},
        {S::csiIntermediate, 0x85, A::error, S::ground},
        {S::csiIgnore, 0x9C, A::ignore, S::csiIgnore},
        {S::sosPmApcString, 0x9B, A::ignore, S::sosPmApcString},
        {S::sosPmApcString, 0x9D, A::ignore, S::sosPmApcString},
        {S::sosPmApcString, 0x9C, A::ignore, S::ground},
        {S::oscString, 0x9B, A::stringPut, S::oscString},
        {S::apcString, 0x90, A::stringPut, S::apcString},
        {S::dcsEntry, 0x9B, A::ignore, S::dcsIgnore},
        {S::dcsParam, 0x9F, A::ignore, S::dcsIgnore},
        {S::dcsIntermediate, 0x80, A::ignore, S::dcsIgnore},
        {S::dcsIgnore, 0x9D, A::ignore, S::dcsIgnore},
        {S::dcsIgnore, 0x9C, A::ignore, S::ground},
        {S::dcsPassthrough, 0x9B, A::dcsPut, S::dcsPassthrough},
        {S::escape, 0xFF, A::error, S::ground},
        // ground
        {S::ground, 0x00, A::execute, S::ground},
        {S::ground, 0x41, A::print, S::ground},
        {S::ground, 0x7F, A::error, S::ground},
        // escape
        {S::escape, 0x0A, A::execute, S::escape},
        {S::escape, 0x28, A::collect, S::escapeIntermediate},
        {S::escape, 0x37, A::escDispatch, S::ground},
        {S::escape, 0x50, A::clear, S::dcsEntry},
        {S::escape, 0x58, A::ignore, S::sosPmApcString},
        {S::escape, 0x5B, A::clear, S::csiEntry},
        {S::escape, 0x5D, A::stringStart, S::oscString},
        {S::escape, 0x5F, A::stringStart, S::apcString},
        {S::escape, 0x63, A::escDispatch, S::ground},
        {S::escape, 0x7F, A::ignore, S::escape},
        // escapeIntermediate
        {S::escapeIntermediate, 0x23, A::collect, S::escapeIntermediate},
        {S::escapeIntermediate, 0x38, A::escDispatch, S::ground},
        {S::escapeIntermediate, 0x7F, A::ignore, S::escapeIntermediate},
        // csiEntry
        {S::csiEntry, 0x18, A::execute, S::csiEntry},
        {S::csiEntry, 0x20, A::collect, S::csiIntermediate},
        {S::csiEntry, 0x35, A::parameter, S::csiParam},
        {S::csiEntry, 0x3A, A::error, S::ground},
        {S::csiEntry, 0x3B, A::parameter, S::csiParam},
        {S::csiEntry, 0x3F, A::collect, S::csiParam},
        {S::csiEntry, 0x6D, A::csiDispatch, S::ground},
        // csiParam
        {S::csiParam, 0x3A, A::parameter, S::csiParam},
        {S::csiParam, 0x3C, A::ignore, S::csiIgnore},
        {S::csiParam, 0x24, A::collect, S::csiIntermediate},
        {S::csiParam, 0x7E, A::csiDispatch, S::ground},
        // csiIntermediate
        {S::csiIntermediate, 0x31, A::ignore, S::csiIgnore},
        {S::csiIntermediate, 0x70, A::csiDispatch, S::ground},
        // csiIgnore
        {S::csiIgnore, 0x08, A::execute, S::csiIgnore},
        {S::csiIgnore, 0x40, A::ignore, S::ground},
        {S::csiIgnore, 0x7F, A::ignore, S::csiIgnore},
        // sosPmApcString
        {S::sosPmApcString, 0x07, A::ignore, S::sosPmApcString},
        {S::sosPmApcString, 0x41, A::ignore, S::sosPmApcString},
        {S::sosPmApcString, 0xE2, A::ignore, S::sosPmApcString},
        // oscString
        {S::oscString, 0x07, A::stringEnd, S::ground},
        {S::oscString, 0x18, A::stringEnd, S::ground},
        {S::oscString, 0x1A, A::stringEnd, S::ground},
        {S::oscString, 0x1B, A::stringEnd, S::ground},
        {S::oscString, 0x01, A::ignore, S::oscString},
        {S::oscString, 0x7F, A::stringPut, S::oscString},
        {S::oscString, 0x9C, A::stringPut, S::oscString},
        {S::oscString, 0xC3, A::stringPut, S::oscString},
        {S::oscString, 0x85, A::stringPut, S::oscString},
        // apcString
        {S::apcString, 0x07, A::stringEnd, S::ground},
        {S::apcString, 0x47, A::stringPut, S::apcString},
        {S::apcString, 0xA0, A::stringPut, S::apcString},
        // dcsEntry
        {S::dcsEntry, 0x0A, A::ignore, S::dcsEntry},
        {S::dcsEntry, 0x24, A::collect, S::dcsIntermediate},
        {S::dcsEntry, 0x31, A::parameter, S::dcsParam},
        {S::dcsEntry, 0x3A, A::ignore, S::dcsIgnore},
        {S::dcsEntry, 0x3E, A::collect, S::dcsParam},
        {S::dcsEntry, 0x71, A::dcsHook, S::dcsPassthrough},
        // dcsParam
        {S::dcsParam, 0x3B, A::parameter, S::dcsParam},
        {S::dcsParam, 0x3A, A::ignore, S::dcsIgnore},
        {S::dcsParam, 0x3F, A::ignore, S::dcsIgnore},
        {S::dcsParam, 0x71, A::dcsHook, S::dcsPassthrough},
        // dcsIgnore
        {S::dcsIgnore, 0x71, A::ignore, S::dcsIgnore},
        // dcsIntermediate
        {S::dcsIntermediate, 0x30, A::ignore, S::dcsIgnore},
        {S::dcsIntermediate, 0x71, A::dcsHook, S::dcsPassthrough},
        // dcsPassthrough
        {S::dcsPassthrough, 0x0A, A::dcsPut, S::dcsPassthrough},
        {S::dcsPassthrough, 0x18, A::dcsPut, S::dcsPassthrough},
        {S::dcsPassthrough, 0x41, A::dcsPut, S::dcsPassthrough},
        {S::dcsPassthrough, 0x7F, A::ignore, S::dcsPassthrough},
        {S::dcsPassthrough, 0x1B, A::dcsUnhook, S::ground},
        {S::dcsPassthrough, 0x9C, A::dcsUnhook, S::ground},
        {S::dcsPassthrough, 0xC3, A::error, S::ground},
        // programStatusEscape
        {S::programStatusEscape, 0x00, A::escDispatch, S::ground},
        {S::programStatusEscape, 0x19, A::escDispatch, S::ground},
        {S::programStatusEscape, 0x5C, A::escDispatch, S::ground},
        {S::programStatusEscape, 0x9C, A::escDispatch, S::ground},
        {S::programStatusEscape, 0xFF, A::escDispatch, S::ground},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(t.action(row.state, row.byte), row.action)
            << "action of state " << int(row.state) << " byte 0x" << std::hex << int(row.byte);
        EXPECT_EQ(t.nextState(row.state, row.byte), row.next)
            << "next state of state " << int(row.state) << " byte 0x" << std::hex << int(row.byte);
    }
    EXPECT_EQ(TransitionTable::index(S::programStatusEscape, 0xFF), 0xFA0u)
        << "the last entry fits the table";
    EXPECT_EQ(&TransitionTable::shared(), &t) << "one table per process";
}

} // namespace
} // namespace kestrovan
