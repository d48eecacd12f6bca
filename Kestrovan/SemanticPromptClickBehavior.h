// Whether a click inside a shell's command line moves the shell's cursor there (click-to-move
// inside an OSC 133 prompt group), and which modifiers such a click needs. The terminal keeps one
// `SemanticPromptClickBehavior`; the click handling reads it.
#pragma once

#include "Kestrovan/OptionSet.h"

#include <cstdint>

namespace kestrovan {

struct SemanticPromptClickModifiers : OptionSet<SemanticPromptClickModifiers, uint8_t>
{
    constexpr SemanticPromptClickModifiers() = default;
    constexpr explicit SemanticPromptClickModifiers(uint8_t raw) : OptionSet(raw) {}
    constexpr SemanticPromptClickModifiers(OptionSet set) : OptionSet(set) {}

    static const SemanticPromptClickModifiers shift;
    static const SemanticPromptClickModifiers control;
    static const SemanticPromptClickModifiers option;
    static const SemanticPromptClickModifiers command;
};

inline constexpr SemanticPromptClickModifiers SemanticPromptClickModifiers::shift{1};
inline constexpr SemanticPromptClickModifiers SemanticPromptClickModifiers::control{2};
inline constexpr SemanticPromptClickModifiers SemanticPromptClickModifiers::option{4};
inline constexpr SemanticPromptClickModifiers SemanticPromptClickModifiers::command{8};

/// `requireModifier(modifiers)`, `disabled` or `enabled` (the default).
struct SemanticPromptClickBehavior
{
    enum class Case : uint8_t
    {
        requireModifier,
        disabled,
        enabled,
    };

    Case kind = Case::enabled;
    /// The modifiers a `requireModifier` click needs; empty for the other cases.
    SemanticPromptClickModifiers modifiers;

    static constexpr SemanticPromptClickBehavior requireModifier(SemanticPromptClickModifiers required)
    {
        return {Case::requireModifier, required};
    }
    static constexpr SemanticPromptClickBehavior disabled() { return {Case::disabled, {}}; }
    static constexpr SemanticPromptClickBehavior enabled() { return {Case::enabled, {}}; }

    friend constexpr bool operator==(const SemanticPromptClickBehavior&,
                                     const SemanticPromptClickBehavior&) = default;
};

} // namespace kestrovan
