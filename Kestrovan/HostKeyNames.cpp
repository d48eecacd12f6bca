#include "Kestrovan/HostKeyNames.h"

namespace kestrovan {

namespace {

using Key = KittyFunctionalKey;

// Hosts and the encoder's callers number the functional keys by their position in the protocol's
// list; the tables store the enumeration, and these pin the positions hosts rely on.
static_assert(static_cast<int>(Key::pageDown) == 13 && static_cast<int>(Key::f35) == 48);
static_assert(static_cast<int>(Key::pause) == 54 && static_cast<int>(Key::keypad0) == 55);
static_assert(static_cast<int>(Key::keypadSeparator) == 72 && static_cast<int>(Key::keypadBegin) == 83);
static_assert(static_cast<int>(Key::mediaPlay) == 84 && static_cast<int>(Key::volumeMute) == 96);
static_assert(static_cast<int>(Key::leftShift) == 97 && static_cast<int>(Key::rightSuper) == 106);

} // namespace

const HostKeyTable& hostNamedKeys()
{
    static const HostKeyTable table = [] {
        HostKeyTable keys{
            {"Escape", Key::escape},
            {"Enter", Key::enter},
            {"Tab", Key::tab},
            {"Backspace", Key::backspace},
            {"Insert", Key::insert},
            {"Delete", Key::delete_},
            {"ArrowUp", Key::up},
            {"ArrowDown", Key::down},
            {"ArrowLeft", Key::left},
            {"ArrowRight", Key::right},
            {"Home", Key::home},
            {"End", Key::end},
            {"PageUp", Key::pageUp},
            {"PageDown", Key::pageDown},
            {"ContextMenu", Key::menu},
            {"CapsLock", Key::capsLock},
            {"ScrollLock", Key::scrollLock},
            {"NumLock", Key::numLock},
            {"PrintScreen", Key::printScreen},
            {"Pause", Key::pause},
            {"MediaPlay", Key::mediaPlay},
            {"MediaPause", Key::mediaPause},
            {"MediaPlayPause", Key::mediaPlayPause},
            {"MediaStop", Key::mediaStop},
            {"MediaFastForward", Key::mediaFastForward},
            {"MediaRewind", Key::mediaRewind},
            {"MediaTrackNext", Key::mediaTrackNext},
            {"MediaTrackPrevious", Key::mediaTrackPrevious},
            {"AudioVolumeDown", Key::volumeDown},
            {"AudioVolumeUp", Key::volumeUp},
            {"AudioVolumeMute", Key::volumeMute},
            // The web's modifier names carry no side: they read as the left-hand keys, and the
            // platform key (Meta, or Super on some systems) is the protocol's Super.
            {"Shift", Key::leftShift},
            {"Control", Key::leftControl},
            {"Alt", Key::leftAlt},
            {"Meta", Key::leftSuper},
            {"Super", Key::leftSuper},
            {"Hyper", Key::leftHyper},
            {"AltGraph", Key::rightAlt},
        };
        // F1 to F35; the names must outlive the table, so they are spelled out once here.
        static constexpr std::string_view functionNames[] = {
            "F1",  "F2",  "F3",  "F4",  "F5",  "F6",  "F7",  "F8",  "F9",  "F10", "F11", "F12",
            "F13", "F14", "F15", "F16", "F17", "F18", "F19", "F20", "F21", "F22", "F23", "F24",
            "F25", "F26", "F27", "F28", "F29", "F30", "F31", "F32", "F33", "F34", "F35"};
        for (int i = 0; i < 35; ++i)
            keys.emplace(functionNames[i], static_cast<Key>(static_cast<int>(Key::f1) + i));
        return keys;
    }();
    return table;
}

const HostKeyTable& hostPhysicalKeys()
{
    static const HostKeyTable table{
        {"Numpad0", Key::keypad0},
        {"Numpad1", Key::keypad1},
        {"Numpad2", Key::keypad2},
        {"Numpad3", Key::keypad3},
        {"Numpad4", Key::keypad4},
        {"Numpad5", Key::keypad5},
        {"Numpad6", Key::keypad6},
        {"Numpad7", Key::keypad7},
        {"Numpad8", Key::keypad8},
        {"Numpad9", Key::keypad9},
        {"NumpadDecimal", Key::keypadDecimal},
        {"NumpadDivide", Key::keypadDivide},
        {"NumpadMultiply", Key::keypadMultiply},
        {"NumpadSubtract", Key::keypadSubtract},
        {"NumpadAdd", Key::keypadAdd},
        {"NumpadEnter", Key::keypadEnter},
        {"NumpadEqual", Key::keypadEqual},
        {"NumpadComma", Key::keypadSeparator},
        {"ShiftLeft", Key::leftShift},
        {"ControlLeft", Key::leftControl},
        {"AltLeft", Key::leftAlt},
        {"MetaLeft", Key::leftSuper},
        {"ShiftRight", Key::rightShift},
        {"ControlRight", Key::rightControl},
        {"AltRight", Key::rightAlt},
        {"MetaRight", Key::rightSuper},
    };
    return table;
}

const HostKeyTable& hostKeypadNavigation()
{
    static const HostKeyTable table{
        {"ArrowLeft", Key::keypadLeft}, {"ArrowRight", Key::keypadRight}, {"ArrowUp", Key::keypadUp},
        {"ArrowDown", Key::keypadDown}, {"PageUp", Key::keypadPageUp},    {"PageDown", Key::keypadPageDown},
        {"Home", Key::keypadHome},      {"End", Key::keypadEnd},          {"Insert", Key::keypadInsert},
        {"Delete", Key::keypadDelete},  {"Clear", Key::keypadBegin},
    };
    return table;
}

std::optional<KittyFunctionalKey> hostFunctionalKey(std::string_view key, std::string_view code)
{
    // With Num Lock off the keypad's digits navigate: the layout's meaning names the key, and the
    // code says it came from the keypad.
    if (code.starts_with("Numpad")) {
        if (auto found = hostKeypadNavigation().find(key); found != hostKeypadNavigation().end())
            return found->second;
    }
    if (auto found = hostPhysicalKeys().find(code); found != hostPhysicalKeys().end())
        return found->second;
    if (auto found = hostNamedKeys().find(key); found != hostNamedKeys().end())
        return found->second;
    return std::nullopt;
}

} // namespace kestrovan
