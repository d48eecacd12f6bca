#include "Kestrovan/SelectionService.h"

#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalDelegate.h"

namespace kestrovan {

SelectionService::SelectionService(std::weak_ptr<Terminal> terminal) : terminal_(std::move(terminal)) {}

void SelectionService::setActive(bool value)
{
    if (value == active_)
        return;
    active_ = value;
    if (const std::shared_ptr<Terminal> owner = terminal_.lock())
        owner->selectionActivityChanged(*this, value);
}

void SelectionService::adjustForInPlaceScroll(int64_t top, int64_t bottom, int64_t lines)
{
    if (!active_ || lines == 0)
        return;
    const auto inside = [&](const Position& position) {
        return position.row >= top && position.row <= bottom;
    };
    const bool startInside = inside(start);
    const bool endInside = inside(end);
    if (!startInside && !endInside)
        return;

    bool leftRange = false;
    const auto move = [&](Position& position, bool wasInside) {
        if (!wasInside)
            return;
        position.row -= lines;
        if (!inside(position))
            leftRange = true;
    };
    move(start, startInside);
    move(end, endInside);
    if (leftRange) {
        // Part of the selected text has scrolled out of the range: the selection no longer names
        // what the user selected, so it goes.
        setActive(false);
    }
    notifyChanged();
}

void SelectionService::notifyChanged() const
{
    const std::shared_ptr<Terminal> owner = terminal_.lock();
    if (!owner)
        return;
    if (const std::shared_ptr<TerminalDelegate> delegate = owner->delegate())
        delegate->selectionChanged(*owner);
}

} // namespace kestrovan
