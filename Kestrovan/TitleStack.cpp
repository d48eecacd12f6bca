// Pushing and popping titles with the depth limit.
#include "Kestrovan/TitleStack.h"

namespace kestrovan {

const std::string& TitleText::emptyText()
{
    static const std::string empty;
    return empty;
}

bool TitleStack::push(TitleText title)
{
    bool beganDropping = false;
    if (entries_.size() >= maximumDepth) {
        // Oldest first: a program that pushes in a loop keeps its most recent titles, which are
        // the ones its matching pops will ask for.
        entries_.pop_front();
        beganDropping = !dropping_;
        dropping_ = true;
    }
    entries_.push_back(std::move(title));
    return beganDropping;
}

std::optional<TitleText> TitleStack::pop()
{
    if (entries_.empty())
        return std::nullopt;
    TitleText title = std::move(entries_.back());
    entries_.pop_back();
    dropping_ = false;
    return title;
}

void TitleStack::clear()
{
    entries_.clear();
    dropping_ = false;
}

} // namespace kestrovan
