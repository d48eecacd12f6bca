// The DCS handler of XTGETTCAP (DCS + q Pt ST): a program asks for terminfo capabilities by their
// names written in hexadecimal, separated by ";", and gets one reply per capability the terminal
// has, from the built-in table (`KestrovanTerminfo`).
//
// Names that are malformed or unknown get no reply at all, so a reply never carries bytes the
// program chose other than a validated hexadecimal name. A request past 1 MiB is dropped whole.
// Replies are always 7-bit.
#pragma once

#include "Kestrovan/DcsHandler.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrovan {

class Terminal;

class XTGETTCAP final : public DcsHandler
{
public:
    /// The most payload one request may carry; a longer one gets no reply.
    static constexpr size_t maximumPayloadBytes = 1'048'576;

    explicit XTGETTCAP(std::weak_ptr<Terminal> terminal) : terminal_(std::move(terminal)) {}

    void hook(std::span<const uint8_t> collect, const CsiParameters& parameters, uint8_t flag) override;
    void put(std::span<const uint8_t> data) override;
    /// Answers each ";"-separated name in order, unless the payload overflowed.
    void unhook() override;

    /// The table key of one requested name: its hexadecimal digits in upper case. Absent for an
    /// empty name, an odd number of digits or anything but 0-9, A-F, a-f.
    static std::optional<std::string> normalizedKey(std::string_view piece);
    /// Sends the reply for one requested name, or nothing when it is invalid or unknown.
    void reply(std::string_view piece);
    /// Sends ESC P 1+r544E= and the option termName in hexadecimal, ESC \.
    void replyWithTerminalName();

    /// Payload bytes held, for tests.
    size_t bufferedBytes() const { return buffer_.size(); }
    bool overflowed() const { return overflowed_; }

private:
    std::weak_ptr<Terminal> terminal_;
    std::vector<uint8_t> buffer_;
    bool overflowed_ = false;
};

} // namespace kestrovan
