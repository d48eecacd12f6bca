#include "Kestrovan/Apple/TerminalViewDelegate.h"

#include "Kestrovan/Apple/AppleTerminalView.h"

namespace kestrovan {

void TerminalViewDelegate::requestOpenLink(TerminalView& source, const std::string& link,
                                           const std::map<std::string, std::string>& params)
{
    source.openLinkFromDelegate(link, params);
}

void TerminalViewDelegate::bell(TerminalView& source)
{
    if (platform::ViewHost* host = source.host())
        host->beep();
}

} // namespace kestrovan
