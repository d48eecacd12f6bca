#include "Kestrovan/LocalProcessDelegate.h"

namespace kestrovan {

void LocalProcessDelegate::processFailedToStart(LocalProcess& /*source*/, const LocalProcessError& error)
{
    const std::string text = launchFailureText(error);
    dataReceived(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

std::string LocalProcessDelegate::launchFailureText(const LocalProcessError& error)
{
    return "\r\nProcess launch failed: " + error.description() + "\r\n";
}

} // namespace kestrovan
