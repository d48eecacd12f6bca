// The bidi value types shared by the terminal, its lines and the renderers: whether the implicit
// bidi algorithm runs, how the paragraph direction is found, and whether box drawing mirrors.
//
// Only the state lives here; the layout itself belongs to the render model. Every line records
// the state it was written under, so the state is small and compared memberwise.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace kestrovan {

/// Whether the terminal runs the implicit bidi algorithm or leaves ordering to the application.
enum class BidiSupportMode : uint8_t
{
    implicit = 0,
    explicit_ = 1
};

enum class BidiDirection : uint8_t
{
    leftToRight = 0,
    rightToLeft = 1
};

/// The host's choice between honouring the terminal's bidi state and laying every row out
/// left to right.
enum class BidiHostPolicy : uint8_t
{
    respectTerminal = 0,
    legacyLeftToRight = 1
};

enum class BidiPresentationMode : uint8_t
{
    implicitLeftToRight,
    implicitRightToLeft,
    implicitAutoLeftToRight,
    implicitAutoRightToLeft,
    explicitLeftToRight,
    explicitRightToLeft,
};

struct BidiPresentationState
{
    BidiSupportMode supportMode = BidiSupportMode::implicit;
    bool autodetectDirection = true;
    BidiDirection fallbackDirection = BidiDirection::leftToRight;
    bool boxMirroring = false;

    /// The default state: implicit, direction detected, left to right fallback, no mirroring.
    constexpr BidiPresentationState() = default;
    constexpr BidiPresentationState(BidiSupportMode mode, bool autodetect, BidiDirection fallback,
                                    bool mirroring)
        : supportMode(mode), autodetectDirection(autodetect), fallbackDirection(fallback),
          boxMirroring(mirroring)
    {}

    static const BidiPresentationState defaultState;

    /// The presentation mode the state selects; `boxMirroring` does not enter it, and in
    /// explicit mode neither does the autodetect flag.
    constexpr BidiPresentationMode presentationMode() const
    {
        const bool rightToLeft = fallbackDirection == BidiDirection::rightToLeft;
        if (supportMode == BidiSupportMode::explicit_)
            return rightToLeft ? BidiPresentationMode::explicitRightToLeft
                               : BidiPresentationMode::explicitLeftToRight;
        if (autodetectDirection)
            return rightToLeft ? BidiPresentationMode::implicitAutoRightToLeft
                               : BidiPresentationMode::implicitAutoLeftToRight;
        return rightToLeft ? BidiPresentationMode::implicitRightToLeft
                           : BidiPresentationMode::implicitLeftToRight;
    }

    friend constexpr bool operator==(const BidiPresentationState&, const BidiPresentationState&) = default;
};

inline constexpr BidiPresentationState BidiPresentationState::defaultState{};

} // namespace kestrovan

template <> struct std::hash<kestrovan::BidiPresentationState>
{
    size_t operator()(const kestrovan::BidiPresentationState& state) const noexcept
    {
        return static_cast<size_t>(state.supportMode) | (size_t(state.autodetectDirection) << 1) |
               (static_cast<size_t>(state.fallbackDirection) << 2) | (size_t(state.boxMirroring) << 3);
    }
};
