// The DCS handler of DECRQSS (DCS $ q Pt ST): a program asks for the current value of one setting
// and the terminal answers DCS 1 $ r <setting> ST, or DCS 0 $ r ST for one it does not know.
//
// The answer is always formatted from the terminal's own state, never copied from the request, so
// nothing a program sends can come back to it as input. Requests are a few bytes long; the handler
// keeps at most `maximumRequestBytes` of one and treats anything longer as unknown.
#pragma once

#include "Kestrovan/DcsHandler.h"
#include "Kestrovan/Terminal.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrovan {

class Terminal;

class DECRQSS final : public DcsHandler
{
public:
    /// The longest request kept; the longest known one is two bytes.
    static constexpr size_t maximumRequestBytes = 64;

    explicit DECRQSS(std::weak_ptr<Terminal> terminal) : terminal_(std::move(terminal)) {}

    void hook(std::span<const uint8_t> collect, const CsiParameters& parameters, uint8_t flag) override;
    void put(std::span<const uint8_t> data) override;
    /// Answers the request (when the terminal is still there).
    void unhook() override;

private:
    /// The text after "1$r" for a known setting, absent for any other request.
    static std::optional<std::string> settingText(const Terminal& terminal, std::string_view request)
        REQUIRES(terminal.terminalLock());

    std::weak_ptr<Terminal> terminal_;
    std::vector<uint8_t> buffer_;
    /// The request passed `maximumRequestBytes`; its tail was dropped.
    bool truncated_ = false;
};

} // namespace kestrovan
