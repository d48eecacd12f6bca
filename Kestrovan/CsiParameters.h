// Numeric parameters of CSI and DCS sequences.
//
// The parser folds digits and separators into `CsiParameterStorage`, a fixed inline store of 24
// integers, so no sequence ever allocates; handlers read the parameters through `CsiParameters`, a
// borrowed read-only view that is valid only for the dispatch call it is passed to. Values saturate
// at 65535, and a sequence never reaches a handler with zero parameters: an empty sequence carries
// one parameter 0, which handlers read as "default".
#pragma once

#include "Kestrovan/Fatal.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace kestrovan {

/// The inline store the parser fills while it reads a sequence.
struct CsiParameterStorage
{
    /// The most parameters one sequence may carry; one more makes the sequence too long to dispatch.
    static constexpr int capacity = 24;
    /// Values are clamped here: no control function takes a larger number.
    static constexpr int64_t maximumValue = 65535;

    std::array<int64_t, capacity> storage{};
    /// Parameters in use; 1 after `clear`, so an empty sequence reads as one parameter 0.
    int count = 1;

    /// Back to one parameter of value 0 (done on every ESC, CSI and DCS introducer).
    void clear()
    {
        count = 1;
        storage[0] = 0;
    }

    /// Folds one decimal digit (0-9) into the last parameter, saturating at `maximumValue`.
    void appendDigit(int digit)
    {
        int64_t& value = storage[static_cast<size_t>(count - 1)];
        value = foldDigit(value, digit);
    }

    /// Closes the last parameter and opens a new one with value 0. A ":" separator marks the closed
    /// parameter in `colonMask` (the next one is its sub-parameter). Returns false, changing nothing,
    /// when the store is already full: the caller then drops the whole sequence.
    bool openParameter(bool colon, uint64_t& colonMask)
    {
        if (count >= capacity)
            return false;
        if (colon)
            colonMask |= uint64_t{1} << (count - 1);
        storage[static_cast<size_t>(count)] = 0;
        ++count;
        return true;
    }

    /// `value` × 10 + `digit`, or `maximumValue` when that would pass it. Values never exceed
    /// `maximumValue`, so the product cannot overflow and a minimum is enough.
    static constexpr int64_t foldDigit(int64_t value, int digit)
    {
        const int64_t folded = value * 10 + digit;
        return folded < maximumValue ? folded : maximumValue;
    }
};

/// A read-only view of the parameters of one sequence, borrowed for the duration of a dispatch.
struct CsiParameters
{
    const int64_t* base = nullptr;
    int count = 0;

    /// A view with no parameters, for handlers invoked without a sequence (for example ESC Z).
    static const CsiParameters empty;

    CsiParameters() = default;
    constexpr CsiParameters(const int64_t* base, int count) : base(base), count(count) {}
    explicit CsiParameters(const CsiParameterStorage& store) : base(store.storage.data()), count(store.count)
    {}

    /// Parameter `index`; an index outside 0 ..< `count` stops the program, so test `count` first.
    int64_t operator[](int index) const
    {
        KESTROVAN_ASSERT(index >= 0 && index < count, "CsiParameters: index out of range");
        return base[index];
    }

    size_t size() const { return static_cast<size_t>(count); }
    const int64_t* begin() const { return base; }
    const int64_t* end() const { return base + count; }
};

namespace detail {
/// The integer the empty view points at, so that even `CsiParameters::empty` has a valid base.
inline constexpr int64_t emptyCsiParameterValue = 0;
} // namespace detail

inline constexpr CsiParameters CsiParameters::empty{&detail::emptyCsiParameterValue, 0};

} // namespace kestrovan
