// Whether a click inside a shell's command line moves the shell's cursor there (click-to-move
// inside an OSC 133 prompt group), which modifiers such a click needs, and what the view saw of
// the press. The terminal keeps one `SemanticPromptClickBehavior`; the click handling reads it
// together with a `SemanticPromptPointerSnapshot` the view takes at mouse-up.
#pragma once

#include "Kestrovan/OptionSet.h"

#include <cstdint>
#include <optional>

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

/// What the view observed about one press and release of the pointer.
struct SemanticPromptPointerSnapshot
{
    bool selectionWasActive = false;
    bool selectionIsActiveAtRelease = false;
    bool didDrag = false;
    int clickCount = 0;
    /// Decided by the view: whether the press landed where click-to-move may apply.
    bool pressWasSemanticEligible = false;

    SemanticPromptPointerSnapshot() = default;
    /// Without `selectionIsActiveAtRelease` the selection is taken to be as it was at the press.
    SemanticPromptPointerSnapshot(bool selectionWasActive, bool didDrag, int clickCount,
                                  bool pressWasSemanticEligible,
                                  std::optional<bool> selectionIsActiveAtRelease = std::nullopt)
        : selectionWasActive(selectionWasActive),
          selectionIsActiveAtRelease(selectionIsActiveAtRelease.value_or(selectionWasActive)),
          didDrag(didDrag), clickCount(clickCount), pressWasSemanticEligible(pressWasSemanticEligible)
    {}

    friend bool operator==(const SemanticPromptPointerSnapshot&,
                           const SemanticPromptPointerSnapshot&) = default;
};

} // namespace kestrovan
