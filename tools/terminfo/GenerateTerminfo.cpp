// Generates the terminal's XTGETTCAP table, the C++ source of `KestrovanTerminfo`'s replies.
//
//   kestrovan_terminfo_generator <capabilities.txt> <output.cpp>
//
// The flags, numbers and control strings come from the data file beside this program. The key
// capabilities come from the engine's own key encoder, linked into this program: each is the byte
// sequence the terminal sends for that key after a program has sent smkx (application cursor keys
// and application keypad), the form terminfo describes. The plain keys are checked once more
// against the fixed sequences of `EscapeSequences`, so a change to either side that makes them
// disagree fails the build instead of shipping a table that lies.
//
// The build runs this program before compiling the engine; its output lives in the build tree.
#include "Kestrovan/EscapeSequences.h"
#include "Kestrovan/KittyKeyboardEncoder.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

using kestrovan::EscapeSequences;
using kestrovan::KittyFunctionalKey;
using kestrovan::KittyKeyboardEncoder;
using kestrovan::KittyKeyboardFlags;
using kestrovan::KittyKeyboardModifiers;
using Key = KittyFunctionalKey;
using Mods = KittyKeyboardModifiers;

/// The size of the table programs are promised; a data file or key list that drifts from it fails.
constexpr size_t expectedCapabilityCount = 271;

/// One capability: a flag has no value.
struct Capability
{
    std::string name;
    std::optional<std::string> value;
};

[[noreturn]] void fail(const std::string& message)
{
    std::fprintf(stderr, "kestrovan_terminfo_generator: %s\n", message.c_str());
    std::exit(1);
}

bool isOctalDigit(char c)
{
    return c >= '0' && c <= '7';
}

/// The real bytes of a terminfo string without parameters: \E and \e are ESC, ^X is a control
/// (^? DEL), \NNN an octal byte, and \\ \^ \, \: \s \n \r \t \b the usual characters.
std::string decodeTerminfoString(std::string_view text, const std::string& where)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '^') {
            if (i + 1 >= text.size())
                fail(where + ": a lone ^ at the end");
            const char control = text[++i];
            if (control == '?')
                out += '\x7f';
            else if (control >= '@' && control <= '_')
                out += static_cast<char>(control - '@');
            else if (control >= 'a' && control <= 'z')
                out += static_cast<char>(control - 'a' + 1);
            else
                fail(where + ": ^" + std::string(1, control) + " is no control");
            continue;
        }
        if (c != '\\') {
            out += c;
            continue;
        }
        if (i + 1 >= text.size())
            fail(where + ": a lone backslash at the end");
        const char escaped = text[++i];
        switch (escaped) {
        case 'E':
        case 'e':
            out += '\x1b';
            break;
        case '\\':
        case '^':
        case ',':
        case ':':
            out += escaped;
            break;
        case 's':
            out += ' ';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
        case 'b':
            out += '\b';
            break;
        default:
            if (i + 2 < text.size() && isOctalDigit(escaped) && isOctalDigit(text[i + 1]) &&
                isOctalDigit(text[i + 2])) {
                out +=
                    static_cast<char>((escaped - '0') * 64 + (text[i + 1] - '0') * 8 + (text[i + 2] - '0'));
                i += 2;
                break;
            }
            fail(where + ": unknown escape \\" + std::string(1, escaped));
        }
    }
    return out;
}

/// Reads the data file; every line is a comment, blank, or "name kind [value]".
std::vector<Capability> readDataFile(const std::string& path)
{
    std::ifstream file(path);
    if (!file)
        fail("cannot read " + path);
    std::vector<Capability> capabilities;
    std::string line;
    int lineNumber = 0;
    while (std::getline(file, line)) {
        ++lineNumber;
        const std::string where = path + ":" + std::to_string(lineNumber);
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        std::string name;
        std::string kind;
        fields >> name >> kind;
        std::string value;
        std::getline(fields >> std::ws, value);
        while (!value.empty() && (value.back() == ' ' || value.back() == '\r'))
            value.pop_back();

        if (kind == "flag") {
            if (!value.empty())
                fail(where + ": a flag takes no value");
            capabilities.push_back({name, std::nullopt});
        } else if (kind == "num") {
            if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos)
                fail(where + ": a number must be decimal digits");
            capabilities.push_back({name, value});
        } else if (kind == "str") {
            // A string without parameters is stored as the bytes it stands for; a % here would be
            // a parameter left unexpanded.
            if (value.empty() || value.find('%') != std::string::npos)
                fail(where + ": a str value must be non-empty and have no parameters");
            capabilities.push_back({name, decodeTerminfoString(value, where)});
        } else if (kind == "fmt") {
            if (value.find('%') == std::string::npos)
                fail(where + ": a fmt value must have parameters (use str)");
            capabilities.push_back({name, value});
        } else {
            fail(where + ": unknown kind '" + kind + "'");
        }
    }
    return capabilities;
}

/// The bytes the encoder sends for a key pressed with `modifiers`, after smkx.
std::string encodeKey(Key key, Mods modifiers, const std::string& name)
{
    KittyKeyboardEncoder::Switches switches;
    switches.applicationCursor = true;
    switches.applicationKeypad = true;
    const KittyKeyboardEncoder encoder(KittyKeyboardFlags(), switches);
    kestrovan::KittyKeyEvent event;
    event.key = kestrovan::KittyKey::functional(key);
    event.modifiers = modifiers;
    const std::optional<std::vector<uint8_t>> bytes = encoder.encode(event);
    if (!bytes || bytes->empty())
        fail("the key encoder sends nothing for " + name);
    return std::string(bytes->begin(), bytes->end());
}

/// The xterm modifier suffixes of the shifted-key capabilities: kUP is shift+Up, kUP3 alt+Up,
/// kUP4 shift+alt, kUP5 ctrl, kUP6 shift+ctrl, kUP7 alt+ctrl (the suffix is the modifier
/// parameter, bits + 1).
Mods suffixModifiers(int suffix)
{
    return Mods(static_cast<uint32_t>(suffix - 1));
}

/// The modifiers of the function keys past F12 in terminfo's numbering: each group of twelve adds
/// shift, ctrl, shift+ctrl, alt and shift+alt to F1-F12 in turn (kf63 is shift+alt+F3).
Mods functionKeyGroupModifiers(int group)
{
    static const Mods groups[] = {
        Mods(), Mods::shift, Mods::ctrl, Mods::shift | Mods::ctrl, Mods::alt, Mods::shift | Mods::alt};
    return groups[group];
}

std::vector<Capability> keyCapabilities()
{
    std::vector<Capability> out;
    auto add = [&](const std::string& name, Key key, Mods modifiers) {
        out.push_back({name, encodeKey(key, modifiers, name)});
    };

    // The keys on their own.
    add("kcuu1", Key::up, Mods());
    add("kcud1", Key::down, Mods());
    add("kcub1", Key::left, Mods());
    add("kcuf1", Key::right, Mods());
    add("khome", Key::home, Mods());
    add("kend", Key::end, Mods());
    add("kich1", Key::insert, Mods());
    add("kdch1", Key::delete_, Mods());
    add("kpp", Key::pageUp, Mods());
    add("knp", Key::pageDown, Mods());
    add("kent", Key::keypadEnter, Mods());
    add("kbs", Key::backspace, Mods());
    // Back-tab and the scroll keys are shifted keys with names of their own.
    add("kcbt", Key::tab, Mods::shift);
    add("kind", Key::down, Mods::shift);
    add("kri", Key::up, Mods::shift);

    // The shifted and otherwise modified editing and cursor keys.
    const std::pair<const char*, Key> modified[] = {
        {"kDC", Key::delete_}, {"kDN", Key::down},  {"kEND", Key::end},      {"kHOM", Key::home},
        {"kIC", Key::insert},  {"kLFT", Key::left}, {"kNXT", Key::pageDown}, {"kPRV", Key::pageUp},
        {"kRIT", Key::right},  {"kUP", Key::up},
    };
    for (const auto& [base, key] : modified) {
        add(base, key, Mods::shift);
        for (int suffix = 3; suffix <= 7; ++suffix)
            add(base + std::to_string(suffix), key, suffixModifiers(suffix));
    }

    for (int n = 1; n <= 63; ++n) {
        const int functionKey = (n - 1) % 12;
        add("kf" + std::to_string(n), static_cast<Key>(static_cast<int>(Key::f1) + functionKey),
            functionKeyGroupModifiers((n - 1) / 12));
    }
    return out;
}

/// The plain keys must be the fixed sequences the views send without the encoder.
void checkAgainstEscapeSequences(const std::vector<Capability>& keys)
{
    std::map<std::string, std::string> byName;
    for (const Capability& key : keys)
        byName[key.name] = *key.value;
    auto expect = [&](const std::string& name, const EscapeSequences::Sequence& sequence) {
        if (byName[name] != std::string(sequence.begin(), sequence.end()))
            fail(name + " from the key encoder differs from EscapeSequences");
    };
    expect("kcuu1", EscapeSequences::moveUpApp());
    expect("kcud1", EscapeSequences::moveDownApp());
    expect("kcub1", EscapeSequences::moveLeftApp());
    expect("kcuf1", EscapeSequences::moveRightApp());
    expect("khome", EscapeSequences::moveHomeApp());
    expect("kend", EscapeSequences::moveEndApp());
    expect("kich1", EscapeSequences::cmdInsert());
    expect("kdch1", EscapeSequences::cmdDelKey());
    expect("kpp", EscapeSequences::cmdPageUp());
    expect("knp", EscapeSequences::cmdPageDown());
    expect("kbs", EscapeSequences::cmdDel());
    expect("kcbt", EscapeSequences::cmdBackTab());
    for (int n = 1; n <= 12; ++n)
        expect("kf" + std::to_string(n), EscapeSequences::cmdF()[static_cast<size_t>(n - 1)]);
}

std::string hex(std::string_view bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        out += digits[byte >> 4];
        out += digits[byte & 0x0F];
    }
    return out;
}

/// A C++ string literal of `bytes`; anything but plain printable ASCII is an octal escape.
std::string literal(std::string_view bytes)
{
    std::string out = "\"";
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '"' || byte == '\\') {
            out += '\\';
            out += c;
        } else if (byte >= 0x20 && byte < 0x7F && byte != '?') {
            out += c;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\%03o", byte);
            out += escaped;
        }
    }
    return out + "\"";
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3)
        fail("usage: kestrovan_terminfo_generator <capabilities.txt> <output.cpp>");

    std::vector<Capability> capabilities = readDataFile(argv[1]);
    const std::vector<Capability> keys = keyCapabilities();
    checkAgainstEscapeSequences(keys);
    capabilities.insert(capabilities.end(), keys.begin(), keys.end());

    // Sorted by name as bytes: upper case before lower case, kf10 before kf2.
    std::sort(capabilities.begin(), capabilities.end(),
              [](const Capability& a, const Capability& b) { return a.name < b.name; });
    for (size_t i = 1; i < capabilities.size(); ++i) {
        if (capabilities[i].name == capabilities[i - 1].name)
            fail(capabilities[i].name + " is defined twice");
    }
    if (capabilities.size() != expectedCapabilityCount)
        fail("the table has " + std::to_string(capabilities.size()) + " capabilities, not " +
             std::to_string(expectedCapabilityCount));

    std::string source = "// Generated at build time by tools/terminfo/GenerateTerminfo.cpp from "
                         "tools/terminfo/capabilities.txt\n"
                         "// and the key encoder; do not edit.\n"
                         "#include \"Kestrovan/KestrovanTerminfo.h\"\n"
                         "\n"
                         "namespace kestrovan::detail {\n"
                         "\n"
                         "namespace {\n"
                         "\n"
                         "const XtgettcapTableEntry entries[] = {\n";
    for (const Capability& capability : capabilities) {
        if (capability.name.empty() ||
            capability.name.find_first_not_of(
                "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789") != std::string::npos)
            fail("'" + capability.name + "' is not a capability name");
        const std::string key = hex(capability.name);
        std::string reply = "\x1bP1+r" + key;
        if (capability.value)
            reply += "=" + hex(*capability.value);
        reply += "\x1b\\";
        source += "    {" + literal(key) + ", " + literal(reply) + "}, // " + capability.name + "\n";
    }
    source += "};\n"
              "\n"
              "} // namespace\n"
              "\n"
              "std::span<const XtgettcapTableEntry> xtgettcapTableEntries()\n"
              "{\n"
              "    return entries;\n"
              "}\n"
              "\n"
              "} // namespace kestrovan::detail\n";

    std::ofstream output(argv[2], std::ios::binary | std::ios::trunc);
    output << source;
    output.close();
    if (!output)
        fail(std::string("cannot write ") + argv[2]);
    return 0;
}
