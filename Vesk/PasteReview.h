// The question a risky paste or file drop asks before it reaches the shell: how much text it is,
// and all of it, with hidden controls made visible.
//
// The preview shows every scalar of the text; a control or format character other than the line
// feed is written as "\u{HEX}", so a carriage return, an escape or a bidirectional override is
// seen before it acts, while line feeds still break the preview's lines. Nothing is cut, however
// long the text. When to ask is `SafetyPolicy`'s rule; this only builds the question.
#pragma once

#include "Platform/UI/Alert.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace vesk {

struct PasteReview
{
    /// The button that pastes; every other answer drops the paste.
    static constexpr int pasteButton = 1;

    /// The review of `text` (UTF-8): "Paste <size> of text?", the explanation, the preview and the
    /// buttons "Cancel" and "Paste", Cancel answering Return, Escape and a closed window.
    static platform::Alert makeAlert(std::string_view text);

    /// The preview: `text` with every control and newline character but the line feed escaped.
    static std::string displayText(std::string_view text);

    /// A byte count as the desktop writes file sizes ("5.0 kB", "1 byte").
    static std::string sizeText(size_t bytes);
};

} // namespace vesk
