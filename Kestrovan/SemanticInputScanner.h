// The scan of the bytes the user sends for a submitted command line: Enter in each of the forms a
// keyboard may encode it (CR or LF, keypad Enter as SS3 M, a kitty keyboard report of key 13 that
// is not a release), outside a bracketed paste.
//
// A small byte-wise state machine whose state outlives one send, so a key sequence split over two
// sends is still recognised. The terminal owns one and every user-input path of that terminal goes
// through it. It only watches: the bytes go to the child unchanged. The bytes of a CSI it keeps are
// capped, so an overlong report can only go unrecognised, never grow memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kestrovan {

class SemanticInputScanner
{
public:
    /// Where the scan is inside an escape sequence.
    enum class State : uint8_t
    {
        ground,
        escape,
        csi,
        ss3,
    };

    /// The longest list of CSI parameter bytes kept.
    static constexpr size_t maximumParams = 32;

    /// True when a byte of `data` completes a submission (Enter in any of its encodings, outside a
    /// bracketed paste). The state carries over to the next call.
    bool scan(std::span<const uint8_t> data);
    /// Back to the ground state, outside any paste.
    void reset();

    State state() const { return state_; }
    /// Whether the user is inside a bracketed paste (CSI 200 ~ seen, CSI 201 ~ not yet).
    bool inPaste() const { return inPaste_; }
    /// The parameter and intermediate bytes of the CSI being read.
    const std::vector<uint8_t>& params() const { return params_; }

private:
    State state_ = State::ground;
    bool inPaste_ = false;
    std::vector<uint8_t> params_;
};

} // namespace kestrovan
