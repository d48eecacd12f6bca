// The bidi paragraph controls: applying the current bidi state to the paragraph under the cursor.
//
// Every line stores the bidi state it was written under, and the render model lays out each
// paragraph (a line and its soft-wrapped continuations) by it. A control that changes the state
// re-stamps existing lines only when the cursor stands at the very start of a paragraph: a change
// made in the middle of one must not re-lay out the text already written before it.
#include "Kestrovan/Terminal.h"

namespace kestrovan {

namespace {

/// `base` with the fields named in `properties` taken from `current`.
BidiPresentationState mergedBidiState(BidiPresentationState base, const BidiPresentationState& current,
                                      Terminal::BidiStateProperty properties)
{
    using Property = Terminal::BidiStateProperty;
    if (properties.contains(Property::supportMode))
        base.supportMode = current.supportMode;
    if (properties.contains(Property::autodetectDirection))
        base.autodetectDirection = current.autodetectDirection;
    if (properties.contains(Property::fallbackDirection))
        base.fallbackDirection = current.fallbackDirection;
    if (properties.contains(Property::boxMirroring))
        base.boxMirroring = current.boxMirroring;
    return base;
}

} // namespace

void Terminal::applyCurrentBidiStateAtParagraphStart(BidiStateProperty properties)
{
    Buffer& active = *_buffer;
    CircularBufferLineList& ring = active.lines();
    const int y = active.yBase() + active.y();
    if (active.x() != 0 || y < 0 || y >= ring.count())
        return;

    // A line marked wrapped continues the one above, so the cursor's line starts a paragraph only
    // when it is unmarked (or is the oldest line, above which nothing is kept).
    if (y > 0 && ring[y]->isWrapped())
        return;

    const BidiPresentationState state = mergedBidiState(ring[y]->bidiState(), modes_.bidiState(), properties);
    // `setBidiState` leaves an equal line alone, so its change counter only moves on a real change.
    ring[y]->setBidiState(state);
    for (int row = y + 1; row < ring.count() && ring[row]->isWrapped(); ++row)
        ring[row]->setBidiState(state);
}

} // namespace kestrovan
