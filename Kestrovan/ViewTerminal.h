// The `Terminal` a view creates: it forwards the two notifications the terminal raises when a
// feed ends (the scroll position changed; the synchronized-output watchdog must be re-armed or
// cancelled) to closures of the view.
#pragma once

#include "Kestrovan/Terminal.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace kestrovan {

class ViewTerminal : public Terminal
{
public:
    using ScrollHandler = std::function<void(Terminal&)>;
    using SynchronizedOutputWatchdogHandler = std::function<void(bool active, uint64_t generation)>;

    ViewTerminal(const std::shared_ptr<TerminalDelegate>& delegate, const TerminalOptions& options,
                 SynchronizedOutputWatchdogHandler synchronizedOutputWatchdogHandler,
                 ScrollHandler scrollHandler);
    /// Not available: a view terminal always has its handlers. Stops the program.
    ViewTerminal(const std::shared_ptr<TerminalDelegate>& delegate, const TerminalOptions& options);

    static std::shared_ptr<ViewTerminal>
    create(const std::shared_ptr<TerminalDelegate>& delegate, const TerminalOptions& options,
           SynchronizedOutputWatchdogHandler synchronizedOutputWatchdogHandler, ScrollHandler scrollHandler);

    void scrollPositionChanged() override;
    void applySynchronizedOutputWatchdog(bool active, uint64_t generation) override;

    ScrollHandler scrollHandler;
    SynchronizedOutputWatchdogHandler synchronizedOutputWatchdogHandler;
};

} // namespace kestrovan
