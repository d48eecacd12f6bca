// The window-system half's view on the recording host: a `MacTerminalView` (or a subclass) shown
// by the host in a focused, active window, with helpers that play keys as the GTK widget delivers
// them and the pointer as it moves over cells.
#pragma once

#include "Kestrovan/Apple/View/TerminalViewTestSupport.h"
#include "Kestrovan/Mac/MacKeyTestSupport.h"
#include "Kestrovan/Mac/MacTerminalView.h"

#include <cmath>

namespace kestrovan::testing {

template <typename View = MacTerminalView> struct MacViewFixtureOf : ViewFixture
{
    MacViewFixtureOf()
        : ViewFixture(TerminalOptions::defaults(), {640, 480},
                      [](platform::Size size, TerminalView::Configuration configuration) {
                          return TerminalView::create<View>(size, std::move(configuration));
                      })
    {
        host->setFocus(true);
        settle();
    }
    View& mac() { return static_cast<View&>(*view); }

    /// What the view sent for a query fed as program output.
    std::string reply(std::string_view query)
    {
        delegate->clearSent();
        feed(query);
        settle();
        return delegate->sentText();
    }
    /// Presses and releases a key; what the view sent meanwhile.
    std::string chord(const UsKey& key, uint32_t state = 0, bool numLock = false)
    {
        delegate->clearSent();
        host->deliverKey(translator.press(toolkitKey(key, state, numLock)));
        host->deliverKey(translator.release(toolkitKey(key, state, numLock)));
        settle();
        return delegate->sentText();
    }
    std::string press(const UsKey& key, uint32_t state = 0)
    {
        delegate->clearSent();
        host->deliverKey(translator.press(toolkitKey(key, state)));
        settle();
        return delegate->sentText();
    }
    std::string release(const UsKey& key, uint32_t state = 0)
    {
        delegate->clearSent();
        host->deliverKey(translator.release(toolkitKey(key, state)));
        settle();
        return delegate->sentText();
    }

    /// The middle of the cell at `column` of screen row `row`, in the view's y-up points.
    platform::Point cellCenter(int column, int row)
    {
        const platform::Size cell = *view->cellDimension();
        return platform::Point{(column + 0.5) * cell.width,
                               view->frameSize().height - (row + 0.5) * cell.height};
    }
    /// The pointer moves over the cell with `flags` held, as the widget reports motion.
    void pointAt(int column, int row, platform::ModifierFlags flags = {})
    {
        host->pointer = cellCenter(column, row);
        platform::MouseEvent event;
        event.type = platform::MouseEventType::moved;
        event.location = *host->pointer;
        event.modifierFlags = flags;
        view->mouseEvent(event);
        settle();
    }
    /// A left click on the cell with `flags` held.
    void click(int column, int row, platform::ModifierFlags flags = {})
    {
        platform::MouseEvent event;
        event.location = cellCenter(column, row);
        event.modifierFlags = flags;
        event.clickCount = 1;
        event.type = platform::MouseEventType::down;
        view->mouseEvent(event);
        event.type = platform::MouseEventType::up;
        view->mouseEvent(event);
        settle();
    }

    platform::KeyboardTranslator translator;
};

using MacViewFixture = MacViewFixtureOf<>;

} // namespace kestrovan::testing
