// Pushing and popping titles within the depth and size limits.
#include "Kestrovan/TitleStack.h"

namespace kestrovan {

const std::string& TitleText::emptyText()
{
    static const std::string empty;
    return empty;
}

bool TitleStack::push(TitleText title)
{
    const bool sharesText = !entries_.empty() && entries_.back().title.sharesStorageWith(title);
    const size_t counted = sharesText ? 0 : title.size();
    entries_.push_back(Entry{std::move(title), counted});
    countedBytes_ += counted;
    // Oldest first: a program that pushes in a loop keeps its most recent titles, which are the
    // ones its matching pops will ask for.
    bool dropped = false;
    while (entries_.size() > 1 && (entries_.size() > maximumDepth || countedBytes_ > maximumBytes)) {
        dropOldest();
        dropped = true;
    }
    const bool beganDropping = dropped && !dropping_;
    dropping_ = dropping_ || dropped;
    return beganDropping;
}

void TitleStack::dropOldest()
{
    Entry& oldest = entries_.front();
    // The entry above takes over the count of text the two shared.
    if (entries_.size() > 1 && entries_[1].counted == 0 &&
        entries_[1].title.sharesStorageWith(oldest.title)) {
        entries_[1].counted = oldest.counted;
        oldest.counted = 0;
    }
    countedBytes_ -= oldest.counted;
    entries_.pop_front();
}

std::optional<TitleText> TitleStack::pop()
{
    if (entries_.empty())
        return std::nullopt;
    Entry entry = std::move(entries_.back());
    entries_.pop_back();
    countedBytes_ -= entry.counted;
    dropping_ = false;
    return std::move(entry.title);
}

void TitleStack::clear()
{
    entries_.clear();
    countedBytes_ = 0;
    dropping_ = false;
}

} // namespace kestrovan
