// A parser listener that writes every call into a readable string, for parser tests and the
// parser fuzzer: "print(AB) csi(m;1) osc(0;title;07)".
//
// Bytes outside 0x20-0x7E are written as \xHH. Adjacent print runs are joined when the record is
// read, since how they are cut depends on chunk boundaries; `normalizedText` joins adjacent DCS puts
// as well, for comparing the same input fed in different chunks.
#pragma once

#include "Kestrovan/EscapeSequenceParser.h"
#include "Kestrovan/ParserListener.h"

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrovan::testing {

inline std::string escapedBytes(std::span<const uint8_t> bytes)
{
    std::string out;
    for (uint8_t byte : bytes) {
        if (byte >= 0x20 && byte < 0x7F) {
            out += static_cast<char>(byte);
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", byte);
            out += hex;
        }
    }
    return out;
}

inline std::string hexByte(uint8_t byte)
{
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02x", byte);
    return hex;
}

/// Parameters as "p0;p1" with ":" after a parameter whose colon-mask bit is set.
inline std::string formatParameters(const CsiParameters& pars, uint64_t colonMask)
{
    std::string out;
    for (int k = 0; k < pars.count; ++k) {
        if (k > 0)
            out += (k - 1 < 64 && (colonMask >> (k - 1) & 1)) ? ':' : ';';
        out += std::to_string(pars[k]);
    }
    return out;
}

class RecordingParserListener : public ParserListener
{
public:
    /// `parser` is the parser being fed: read for the colon mask and reset on ESC c.
    explicit RecordingParserListener(EscapeSequenceParser& parser) : parser_(parser) {}

    /// Payloads longer than this are recorded by size only ("#<size>").
    size_t maximumRecordedPayload = 256;
    bool silent = false;
    /// ESC c resets the parser from inside the dispatch, as the terminal does.
    bool resetOnRis = true;

    void record(std::string name, std::string argument)
    {
        calls_.emplace_back(std::move(name), std::move(argument));
    }

    /// The calls so far, adjacent prints joined.
    std::string text() const { return render(false); }
    /// The calls so far, adjacent prints and adjacent DCS puts joined.
    std::string normalizedText() const { return render(true); }

    std::string render(bool joinPuts) const
    {
        std::vector<std::pair<std::string, std::string>> joined;
        for (const auto& call : calls_) {
            if (!joined.empty() && joined.back().first == call.first &&
                (call.first == "print" || (joinPuts && call.first == "put")))
                joined.back().second += call.second;
            else
                joined.push_back(call);
        }
        std::string out;
        for (const auto& [name, argument] : joined) {
            if (!out.empty())
                out += ' ';
            out += name + "(" + argument + ")";
        }
        return out;
    }

    void clear() { calls_.clear(); }

    void handlePrintBorrowed(std::span<const uint8_t> bytes) override
    {
        record("print", escapedBytes(bytes));
    }

    void dispatchExecute(uint8_t code) override { record("exec", hexByte(code)); }

    void dispatchEsc(std::span<const uint8_t> collect, uint8_t code) override
    {
        record("esc", escapedBytes(collect) + escapedBytes({&code, 1}));
        if (resetOnRis && code == 'c' && collect.empty())
            parser_.reset();
    }

    void dispatchCsi(uint8_t code, const CsiParameters& pars, std::span<const uint8_t> collect) override
    {
        const uint64_t mask = code == 'm' ? parser_.parsColonMask() : 0;
        record("csi", escapedBytes(collect) + escapedBytes({&code, 1}) + ";" + formatParameters(pars, mask));
    }

    void dispatchOsc(int code, std::span<const uint8_t> data, uint8_t terminator) override
    {
        record("osc", std::to_string(code) + ";" + payload(data) + ";" + hexByte(terminator));
    }

    void dispatchApc(uint8_t command, std::span<const uint8_t> content) override
    {
        record("apc", escapedBytes({&command, 1}) + ";" + payload(content));
    }

    std::shared_ptr<DcsHandler> makeDcsHandler(std::span<const uint8_t>, const CsiParameters&,
                                               uint8_t) override
    {
        return std::make_shared<Handler>(*this);
    }

    bool silentLog() const override { return silent; }

    /// A DCS handler that records into its listener.
    class Handler : public DcsHandler
    {
    public:
        explicit Handler(RecordingParserListener& owner, std::string name = "hook")
            : owner_(owner), name_(name)
        {}
        void hook(std::span<const uint8_t> collect, const CsiParameters& parameters, uint8_t flag) override
        {
            owner_.record(name_, escapedBytes(collect) + escapedBytes({&flag, 1}) + ";" +
                                     formatParameters(parameters, 0));
        }
        void put(std::span<const uint8_t> data) override { owner_.record("put", escapedBytes(data)); }
        void unhook() override { owner_.record("unhook", ""); }

    private:
        RecordingParserListener& owner_;
        std::string name_;
    };

private:
    std::string payload(std::span<const uint8_t> data) const
    {
        return data.size() > maximumRecordedPayload ? "#" + std::to_string(data.size()) : escapedBytes(data);
    }

    EscapeSequenceParser& parser_;
    std::vector<std::pair<std::string, std::string>> calls_;
};

} // namespace kestrovan::testing
