// The unpacked, caller-facing form of one cell.
//
// Lines never store `CharData`: they store 64-bit packed cells (`PackedCell`, `CellArena`).
// `CharData` is what the terminal's cell accessors return, what callers build before packing and
// what the arena produces when it decodes a stored cell. Invalid codes never fail here; the text
// accessors fall back to a space.
#pragma once

#include "Kestrovan/Attribute.h"
#include "Kestrovan/Character.h"
#include "Kestrovan/SemanticContent.h"
#include "Kestrovan/TinyAtom.h"

#include <any>
#include <cstdint>
#include <optional>
#include <string>

namespace kestrovan {

struct CharData
{
    /// The scalar, or the first scalar of the cluster; 0 for an empty cell; negative is invalid.
    int32_t code = 0;
    /// All scalars of a cluster of two or more (the first equal to `code`); absent otherwise.
    std::optional<std::u32string> graphemeScalarValues;
    /// Columns: 1 normal, 2 a wide character's lead cell, 0 its continuation cell.
    int8_t width = 1;
    /// Per-cell payload such as a hyperlink target; code 0 means none.
    TinyAtom payload;
    /// Shell-integration content code (see `SemanticContent::fromCode`).
    uint8_t semanticContentCode = 0;
    /// 0 single width, 1 lead cell of a wide character, 2 continuation cell (3 reads as 2).
    uint8_t widthStateCode = 0;
    /// Protected against selective erase (DECSCA).
    bool isProtected = false;
    Attribute attribute;

    /// The empty cell: code 0, width 1, the attribute of a fresh cell.
    CharData() = default;
    /// A cell with that attribute, code and width; the width state follows from the width.
    CharData(const Attribute& cellAttribute, int32_t cellCode, int8_t size)
        : code(cellCode), width(size), widthStateCode(widthStateFor(size)), attribute(cellAttribute)
    {}

    /// The shared empty cell (code 0, width 1, default colours), made on first use.
    static const CharData& Null();

    /// The width state a width implies: 0 gives 2 (continuation), 2 gives 1 (lead), else 0.
    static constexpr uint8_t widthStateFor(int size) { return size == 0 ? 2 : size == 2 ? 1 : 0; }

    /// Sets a single-scalar content and its width; a width outside -128...127 stops the program.
    void setValue(int32_t newCode, int size);
    /// Sets the content from a character (its scalars become the cluster when there are two or
    /// more) and its width, as `setValue` does.
    void setCharacter(const Character& character, int size);

    /// The cell's text as UTF-8: a space for an invalid code or cluster, U+0000 for code 0.
    std::string getText() const;
    /// The first character of the text, or a space when the text is empty.
    Character getCharacter() const;

    /// True when the cell holds one scalar and no cluster.
    bool isSimpleRune() const { return !graphemeScalarValues.has_value(); }

    void setProtected(bool value) { isProtected = value; }
    void setPayload(TinyAtom atom) { payload = atom; }
    bool hasPayload() const { return payload.code != 0; }
    /// The value behind the payload atom; nothing for code 0 or a code that names no value.
    std::optional<std::any> getPayload() const { return payload.target(); }

    SemanticContent semanticContent() const { return SemanticContent::fromCode(semanticContentCode); }

    /// "CharData: " + the code in decimal + " " + its character ("?" when not a valid scalar).
    std::string debugDescription() const;

    friend bool operator==(const CharData&, const CharData&) = default;

private:
    std::u32string textScalars() const;
};

} // namespace kestrovan
