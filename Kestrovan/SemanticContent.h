// The value types of shell integration (OSC 133): prompt kinds, what a cell holds (prompt,
// input, output), the progress of the command line and the click-to-move modes.
//
// `SemanticContent` is stored in every cell as a 3-bit code (0 none, 1-4 the prompt kinds,
// 5 input, 6 output; 7 is never written and reads as none), so it converts to and from that code
// here. The per-buffer and per-terminal state built on these types lives with the buffer and the
// terminal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace kestrovan {

enum class SemanticPromptKind : uint8_t
{
    initial,
    right,
    continuation,
    secondary
};

/// "initial", "right", "continuation" or "secondary".
constexpr std::string_view description(SemanticPromptKind kind)
{
    switch (kind) {
    case SemanticPromptKind::initial:
        return "initial";
    case SemanticPromptKind::right:
        return "right";
    case SemanticPromptKind::continuation:
        return "continuation";
    case SemanticPromptKind::secondary:
        return "secondary";
    }
    return "initial";
}

/// The one-letter form OSC 133 uses: "i", "r", "c" or "s".
constexpr std::string_view tagName(SemanticPromptKind kind)
{
    // Each description starts with its tag letter.
    return description(kind).substr(0, 1);
}

/// What a cell holds: `prompt(kind)`, `none`, `input` or `output`.
class SemanticContent
{
public:
    enum class Case : uint8_t
    {
        prompt,
        none,
        input,
        output
    };

    /// `none`.
    constexpr SemanticContent() = default;

    static constexpr SemanticContent prompt(SemanticPromptKind kind)
    {
        return SemanticContent(Case::prompt, kind);
    }
    static constexpr SemanticContent none() { return SemanticContent(); }
    static constexpr SemanticContent input()
    {
        return SemanticContent(Case::input, SemanticPromptKind::initial);
    }
    static constexpr SemanticContent output()
    {
        return SemanticContent(Case::output, SemanticPromptKind::initial);
    }

    /// The content a cell's 3-bit code stands for; codes other than 0-6 read as `none`.
    static constexpr SemanticContent fromCode(uint8_t code)
    {
        if (code >= 1 && code <= 4)
            return prompt(static_cast<SemanticPromptKind>(code - 1));
        if (code == 5)
            return input();
        if (code == 6)
            return output();
        return none();
    }

    /// The 3-bit code stored in cells.
    constexpr uint8_t code() const
    {
        switch (case_) {
        case Case::prompt:
            return static_cast<uint8_t>(1 + static_cast<uint8_t>(kind_));
        case Case::input:
            return 5;
        case Case::output:
            return 6;
        case Case::none:
            break;
        }
        return 0;
    }

    constexpr Case contentCase() const { return case_; }
    constexpr bool isPrompt() const { return case_ == Case::prompt; }
    /// The prompt kind of a `prompt` content (`initial` for the other cases).
    constexpr SemanticPromptKind promptKind() const { return kind_; }

    /// "none", "input", "output" or "prompt(" + the kind's description + ")".
    std::string description() const;

    friend constexpr bool operator==(SemanticContent, SemanticContent) = default;

private:
    constexpr SemanticContent(Case contentCase, SemanticPromptKind kind) : case_(contentCase), kind_(kind) {}

    // The kind is kept at `initial` for the cases that carry none, so equality stays memberwise.
    Case case_ = Case::none;
    SemanticPromptKind kind_ = SemanticPromptKind::initial;
};

/// Where the shell is in the prompt / input / output cycle.
enum class SemanticInputState : uint8_t
{
    idle,
    prompt,
    armed,
    submitted
};

/// How click-to-move may move the shell's cursor.
enum class SemanticPromptCursorClickMode : uint8_t
{
    line,
    multiple,
    conservativeVertical,
    smartVertical
};

/// The click-to-move mode of a prompt group: `cursorKeys(mode)`, `none`, `clickEventsAbsolute`
/// or `clickEventsRelative`.
class SemanticPromptClickMode
{
public:
    enum class Case : uint8_t
    {
        cursorKeys,
        none,
        clickEventsAbsolute,
        clickEventsRelative
    };

    /// `none`.
    constexpr SemanticPromptClickMode() = default;

    static constexpr SemanticPromptClickMode cursorKeys(SemanticPromptCursorClickMode mode)
    {
        return SemanticPromptClickMode(Case::cursorKeys, mode);
    }
    static constexpr SemanticPromptClickMode none() { return SemanticPromptClickMode(); }
    static constexpr SemanticPromptClickMode clickEventsAbsolute()
    {
        return SemanticPromptClickMode(Case::clickEventsAbsolute, SemanticPromptCursorClickMode::line);
    }
    static constexpr SemanticPromptClickMode clickEventsRelative()
    {
        return SemanticPromptClickMode(Case::clickEventsRelative, SemanticPromptCursorClickMode::line);
    }

    constexpr Case modeCase() const { return case_; }
    /// The cursor-click mode of a `cursorKeys` mode (`line` for the other cases).
    constexpr SemanticPromptCursorClickMode cursorClickMode() const { return mode_; }

    friend constexpr bool operator==(SemanticPromptClickMode, SemanticPromptClickMode) = default;

private:
    constexpr SemanticPromptClickMode(Case modeCase, SemanticPromptCursorClickMode mode)
        : case_(modeCase), mode_(mode)
    {}

    Case case_ = Case::none;
    SemanticPromptCursorClickMode mode_ = SemanticPromptCursorClickMode::line;
};

} // namespace kestrovan

template <> struct std::hash<kestrovan::SemanticContent>
{
    size_t operator()(kestrovan::SemanticContent content) const noexcept { return content.code(); }
};

template <> struct std::hash<kestrovan::SemanticPromptClickMode>
{
    size_t operator()(kestrovan::SemanticPromptClickMode mode) const noexcept
    {
        return static_cast<size_t>(mode.modeCase()) * 4 + static_cast<size_t>(mode.cursorClickMode());
    }
};
