#include "Kestrovan/CharSets.h"

#include <string_view>

namespace kestrovan {

namespace {

// Builds a map from alternating pairs: a 7-bit byte, then the scalar it prints as.
constexpr CharacterMap makeMap(std::u32string_view pairs)
{
    CharacterMap map;
    for (size_t i = 0; i + 1 < pairs.size(); i += 2)
        map.replacement[pairs[i]] = pairs[i + 1];
    return map;
}

// VT100 line drawing and the symbols around it on 0x60-0x7E.
constexpr CharacterMap decSpecialGraphics =
    makeMap(U"`\u25C6a\u2592b\u2409c\u240Cd\u240De\u240Af\u00B0g\u00B1"
            U"h\u2424i\u240Bj\u2518k\u2510l\u250Cm\u2514n\u253C"
            U"o\u23BAp\u23BBq\u2500r\u23BCs\u23BDt\u251Cu\u2524"
            U"v\u2534w\u252Cx\u2502y\u2264z\u2265{\u03C0|\u2260"
            U"}\u00A3~\u00B7");

// The national replacement sets swap a few punctuation positions for Latin-1 letters and signs.
constexpr CharacterMap unitedKingdom = makeMap(U"#£");
constexpr CharacterMap unitedStates = makeMap(U"");
// Dutch maps ] to the ASCII vertical bar and | to a plain f (not the florin sign).
constexpr CharacterMap dutch = makeMap(U"#£@¾[ĳ\\½]|{¨|f}¼~´");
constexpr CharacterMap finnish = makeMap(U"[Ä\\Ö]Å^Ü`é{ä|ö}å~ü");
constexpr CharacterMap french = makeMap(U"#£@à[°\\ç]§{é|ù}è~¨");
constexpr CharacterMap frenchCanadian = makeMap(U"@à[â\\ç]ê^î`ô{é|ù}è~û");
constexpr CharacterMap german = makeMap(U"@§[Ä\\Ö]Ü{ä|ö}ü~ß");
constexpr CharacterMap italian = makeMap(U"#£@§[°\\ç]é`ù{à|ò}è~ì");
constexpr CharacterMap norwegianDanish = makeMap(U"@Ä[Æ\\Ø]Å^Ü`ä{æ|ø}å~ü");
constexpr CharacterMap spanish = makeMap(U"#£@§[¡\\Ñ]¿{°|ñ}ç");
constexpr CharacterMap swedish = makeMap(U"@É[Ä\\Ö]Å^Ü`é{ä|ö}å~ü");
constexpr CharacterMap swiss = makeMap(U"#ù@à[é\\ç]ê^î_è`ô{ä|ö}ü~û");

constexpr std::array<const CharacterMap*, 256> makeAll()
{
    std::array<const CharacterMap*, 256> all{};
    all['0'] = &decSpecialGraphics;
    all['2'] = &decSpecialGraphics;
    all['A'] = &unitedKingdom;
    // Present but empty: designating it restores plain ASCII.
    all['B'] = &unitedStates;
    all['4'] = &dutch;
    all['5'] = &finnish;
    all['C'] = &finnish;
    all['R'] = &french;
    all['Q'] = &frenchCanadian;
    all['K'] = &german;
    all['Y'] = &italian;
    all['6'] = &norwegianDanish;
    all['E'] = &norwegianDanish;
    all['Z'] = &spanish;
    all['7'] = &swedish;
    all['H'] = &swedish;
    all['='] = &swiss;
    return all;
}

// A constant table: made by the compiler, so there is no first-use race to guard.
constexpr std::array<const CharacterMap*, 256> allSets = makeAll();

/// `allSets` without the sets that replace nothing.
constexpr std::array<const CharacterMap*, 256> makeTranslations()
{
    std::array<const CharacterMap*, 256> translations = allSets;
    for (const CharacterMap*& set : translations) {
        if (set && set->isEmpty())
            set = nullptr;
    }
    return translations;
}

constexpr std::array<const CharacterMap*, 256> translatingSets = makeTranslations();

} // namespace

const std::array<const CharacterMap*, 256>& CharSets::all()
{
    return allSets;
}

const CharacterMap* CharSets::translation(uint8_t designator)
{
    return translatingSets[designator];
}

} // namespace kestrovan
