#include "Kestrovan/ViewTerminal.h"

#include "Kestrovan/Fatal.h"

namespace kestrovan {

ViewTerminal::ViewTerminal(const std::shared_ptr<TerminalDelegate>& delegate, const TerminalOptions& options,
                           SynchronizedOutputWatchdogHandler synchronizedOutputWatchdogHandler,
                           ScrollHandler scrollHandler)
    : Terminal(delegate, options), scrollHandler(std::move(scrollHandler)),
      synchronizedOutputWatchdogHandler(std::move(synchronizedOutputWatchdogHandler))
{}

ViewTerminal::ViewTerminal(const std::shared_ptr<TerminalDelegate>& delegate, const TerminalOptions& options)
    : Terminal(delegate, options)
{
    fatal("ViewTerminal: init(delegate:options:) has not been implemented");
}

std::shared_ptr<ViewTerminal>
ViewTerminal::create(const std::shared_ptr<TerminalDelegate>& delegate, const TerminalOptions& options,
                     SynchronizedOutputWatchdogHandler synchronizedOutputWatchdogHandler,
                     ScrollHandler scrollHandler)
{
    return std::make_shared<ViewTerminal>(delegate, options, std::move(synchronizedOutputWatchdogHandler),
                                          std::move(scrollHandler));
}

void ViewTerminal::scrollPositionChanged()
{
    if (scrollHandler)
        scrollHandler(*this);
}

void ViewTerminal::applySynchronizedOutputWatchdog(bool active, uint64_t generation)
{
    if (synchronizedOutputWatchdogHandler)
        synchronizedOutputWatchdogHandler(active, generation);
}

} // namespace kestrovan
