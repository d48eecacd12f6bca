// Arbitrary bytes into the escape-sequence parser alone.
//
// The first input byte picks how the rest is cut into chunks (its low 7 bits give the chunk size,
// 0 meaning one chunk) and, with its high bit, a small OSC cap so that over-long payloads are
// reached. The listener reads every byte and parameter it is given (through the recording
// listener of the tests) and resets the parser on ESC c. Besides the sanitizers, the fuzzer checks
// that the chunked parse makes the same calls as parsing the whole input at once, and that the two
// readers of whole true-colour SGR sequences the terminal's parse loop chooses between give the
// same answer wherever the input holds a colour introducer.
#include "tests/Kestrovan/RecordingParserListener.h"

#include "Kestrovan/EscapeSequenceParser.h"
#include "Kestrovan/TrueColourShuffle.h"

#include <cstdio>
#include <cstdlib>

namespace {

using namespace kestrovan;

std::string parseInChunks(std::span<const uint8_t> input, size_t chunkSize, size_t maximumOscBytes)
{
    EscapeSequenceParser parser(maximumOscBytes);
    testing::RecordingParserListener listener(parser);
    listener.silent = true;
    listener.maximumRecordedPayload = 64;
    for (size_t at = 0; at < input.size(); at += chunkSize)
        parser.parseBorrowed(input.subspan(at, std::min(chunkSize, input.size() - at)), listener);
    // Whatever state the input left, a reset and a complete sequence must still work.
    parser.reset();
    const uint8_t probe[] = {0x1b, '[', '1', 'm'};
    parser.parseBorrowed(probe, listener);
    return listener.normalizedText();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t selector = data[0];
    const std::span<const uint8_t> input(data + 1, size - 1);
    const size_t chunkSize = (selector & 0x7F) == 0 ? input.size() + 1 : (selector & 0x7F);
    const size_t maximumOscBytes = (selector & 0x80) ? 64 : EscapeSequenceParser::defaultMaximumOscBytes;

#if defined(KESTROVAN_TRUE_COLOUR_SHUFFLE)
    if (parserLoop::hasShuffledTrueColourReader()) {
        for (size_t at = 0; at + sizeof(uint64_t) <= input.size(); ++at) {
            const int kind = parserLoop::trueColourIntroducer(input.data(), at);
            if (kind == 0)
                continue;
            const auto scalar = parserLoop::readTrueColourSgrScalar(input.data(), at, input.size(), kind);
            const auto shuffled = parserLoop::readTrueColourSgrShuffled(input.data(), at, input.size(), kind);
            if (scalar.end != shuffled.end || scalar.foreground != shuffled.foreground ||
                scalar.background != shuffled.background) {
                std::fprintf(stderr, "the true-colour readers differ at offset %zu\n", at);
                std::abort();
            }
        }
    }
#endif
    const std::string chunked = parseInChunks(input, chunkSize, maximumOscBytes);
    const std::string whole = parseInChunks(input, input.size() + 1, maximumOscBytes);
    if (chunked != whole) {
        std::fprintf(stderr, "chunks of %zu gave:\n%s\nwhole input gave:\n%s\n", chunkSize, chunked.c_str(),
                     whole.c_str());
        std::abort();
    }
    return 0;
}
