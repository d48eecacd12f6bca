#include "Kestrovan/KestrovanTerminfo.h"

namespace kestrovan {

const std::unordered_map<std::string, std::string>& KestrovanTerminfo::xtgettcapReplies()
{
    // A function-local static: built on the first query, safely even if two terminals on two
    // parse threads ask at once.
    static const std::unordered_map<std::string, std::string> replies = [] {
        std::unordered_map<std::string, std::string> map;
        const auto entries = detail::xtgettcapTableEntries();
        map.reserve(entries.size());
        for (const detail::XtgettcapTableEntry& entry : entries)
            map.emplace(entry.key, entry.reply);
        return map;
    }();
    return replies;
}

} // namespace kestrovan
