// A set of flags over an unsigned raw value, with the usual set algebra.
//
// `Tag` keeps two option sets with the same raw type from mixing; members are declared as
// `static constexpr` constants of the set type by the user of the template.
#pragma once

#include <concepts>
#include <cstddef>
#include <functional>

namespace kestrovan {

template <typename Tag, std::unsigned_integral Raw> struct OptionSet
{
    using RawValue = Raw;
    Raw rawValue = 0;

    constexpr OptionSet() = default;
    constexpr explicit OptionSet(Raw raw) : rawValue(raw) {}

    /// True when every member of `other` is in this set.
    constexpr bool contains(OptionSet other) const { return (rawValue & other.rawValue) == other.rawValue; }
    /// True when the set has no member.
    constexpr bool isEmpty() const { return rawValue == 0; }
    /// True when the two sets share a member.
    constexpr bool intersects(OptionSet other) const { return (rawValue & other.rawValue) != 0; }

    constexpr void insert(OptionSet other) { rawValue |= other.rawValue; }
    constexpr void remove(OptionSet other) { rawValue &= static_cast<Raw>(~other.rawValue); }
    constexpr void set(OptionSet other, bool on) { on ? insert(other) : remove(other); }

    constexpr OptionSet unionWith(OptionSet other) const { return OptionSet(rawValue | other.rawValue); }
    constexpr OptionSet intersection(OptionSet other) const { return OptionSet(rawValue & other.rawValue); }
    constexpr OptionSet subtracting(OptionSet other) const
    {
        return OptionSet(static_cast<Raw>(rawValue & ~other.rawValue));
    }
    constexpr OptionSet symmetricDifference(OptionSet other) const
    {
        return OptionSet(rawValue ^ other.rawValue);
    }

    constexpr OptionSet operator|(OptionSet other) const { return unionWith(other); }
    constexpr OptionSet operator&(OptionSet other) const { return intersection(other); }
    constexpr OptionSet& operator|=(OptionSet other)
    {
        insert(other);
        return *this;
    }

    friend constexpr bool operator==(OptionSet, OptionSet) = default;
};

} // namespace kestrovan

template <typename Tag, typename Raw> struct std::hash<kestrovan::OptionSet<Tag, Raw>>
{
    std::size_t operator()(kestrovan::OptionSet<Tag, Raw> set) const noexcept
    {
        return std::hash<Raw>()(set.rawValue);
    }
};
