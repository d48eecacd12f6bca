// The selection of one terminal view: whether there is one, and where it starts and ends.
//
// This is the part of the selection service that the terminal's own operations rely on. A service
// enters its terminal's registry with `Terminal::registerSelection`; scrolling then moves the
// selection with the text it covers, or drops it when the text leaves the scrolled range. Rows are
// absolute buffer rows. Character, word, row and block selection and text extraction are built on
// top of this later.
#pragma once

#include "Kestrovan/Position.h"

#include <cstdint>
#include <memory>

namespace kestrovan {

class Terminal;

class SelectionService
{
public:
    /// A selection of `terminal`, inactive; it still has to be registered with the terminal.
    explicit SelectionService(std::weak_ptr<Terminal> terminal = {});

    SelectionService(const SelectionService&) = delete;
    SelectionService& operator=(const SelectionService&) = delete;

    bool active() const { return active_; }
    /// Changes `active`, keeping the terminal's count of active selections in step. Called with
    /// the terminal lock held once the selection is registered.
    void setActive(bool value);

    /// Column and absolute row of the two ends, in the order they were made.
    Position start;
    Position end;

    /// The text in absolute rows `top` ... `bottom` moved up by `lines` (down when negative):
    /// endpoints inside the range follow it; an endpoint pushed out of the range drops the
    /// selection. The terminal's delegate is told about any change.
    void adjustForInPlaceScroll(int64_t top, int64_t bottom, int64_t lines);

    std::shared_ptr<Terminal> terminal() const { return terminal_.lock(); }

private:
    void notifyChanged() const;

    std::weak_ptr<Terminal> terminal_;
    bool active_ = false;
};

} // namespace kestrovan
