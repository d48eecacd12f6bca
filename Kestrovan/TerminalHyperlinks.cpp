// OSC 8 hyperlinks and the payload codes printed cells carry.
//
// OSC 8 only notes the link's payload text (`ActiveHyperlink::pending`); the text is registered
// in the process-wide atom table when the first character is printed under it, so a link that
// is opened and closed without output costs nothing. Registration goes through a 1024-slot cache
// keyed by the payload text, so a program redrawing the same link reuses its code instead of
// taking a new one each time. When the atom table is full, or the terminal holds as many codes
// or as much link text as one terminal may, codes no cell uses are collected, and when that is
// not enough the oldest rows give up their links (TerminalPayloadCollection.cpp), so new output
// keeps its links; a terminal that holds more than a little of the table does so already when
// only the table's last free codes are left, which it leaves to terminals holding little. Only
// when even that frees nothing does the link print without a code; collection is then retried
// only every 256 failed links, so that a terminal with nothing to give up does not make every
// link walk both screens. A terminal holding little still asks the larger holders at each of
// those links: that walks none of its rows, and their locks may be free by then. A payload
// longer than `ActiveHyperlink::maximumPayloadBytes` is no link at all.
#include "Kestrovan/OscPayloadText.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalLinks.h"
#include "Kestrovan/Utf8.h"

namespace kestrovan {

namespace {

/// Failed registrations that skip collection after a collection did not free a code.
constexpr int collectRetryInterval = 256;

} // namespace

void Terminal::oscHyperlink(Bytes data)
{
    if (!_options.enableOsc8Hyperlinks) {
        activeHyperlink_.reset();
        return;
    }
    // OSC 8;; closes the link. Any other payload, an empty URI included, opens one.
    if (data.size() == 1 && data[0] == ';') {
        activeHyperlink_.reset();
        return;
    }
    // A payload past the bound opens no link, and closes the one open: its text would
    // otherwise go on under a link the program meant to leave.
    if (data.size() > ActiveHyperlink::maximumPayloadBytes) {
        activeHyperlink_.reset();
        return;
    }
    // UTF-8, or ASCII (a subset of it); anything else is kept as the empty text.
    std::string payload = isValidUtf8(data) ? std::string(payloadText(data)) : std::string();
    activeHyperlink_ = ActiveHyperlink::pending(std::move(payload));
}

std::optional<std::string> parseHyperlinkPayload(std::string_view payload)
{
    // The parameters before the first ";" are not interpreted; later ";" belong to the URI.
    const size_t semicolon = payload.find(';');
    if (semicolon == std::string_view::npos)
        return std::nullopt;
    return std::string(payload.substr(semicolon + 1));
}

std::optional<uint16_t> Terminal::resolveActiveHyperlink()
{
    if (!activeHyperlink_)
        return std::nullopt;
    switch (activeHyperlink_->kind) {
    case ActiveHyperlink::Case::unavailable:
        return std::nullopt;
    case ActiveHyperlink::Case::resolved:
        return activeHyperlink_->atom.code;
    case ActiveHyperlink::Case::pending:
        break;
    }

    // Moved out: the state is replaced below whatever happens.
    const std::string payload = std::move(activeHyperlink_->payload);
    const size_t slot = PayloadState::slot(payload);
    if (const std::optional<uint16_t> cached = payloads_.linkCode(payload, slot)) {
        activeHyperlink_ = ActiveHyperlink::resolved(TinyAtom{*cached});
        return *cached;
    }

    // Collection is amortised: it runs once the held codes reach a threshold it then doubles.
    if (payloads_.count >= payloads_.collectAtCount)
        garbageCollectPayload();

    // A terminal that holds all it may, like a full atom table, gets no new code; a collection
    // may make room, but after one that did not, the next links fail without one.
    auto registerLink = [&]() REQUIRES(terminalLock_) -> std::optional<TinyAtom> {
        if (!payloads_.hasRoomFor(payload.size()))
            return std::nullopt;
        const size_t textBytes = payload.size();
        const std::optional<TinyAtom> atom = TinyAtom::lookup(std::string(payload));
        if (atom)
            payloads_.insert(*atom, textBytes);
        return atom;
    };
    // The table's last free codes are left to terminals holding little of it. One that holds more
    // always has links of its own to give up, a quarter of them at a time, so this is seldom.
    if (TinyAtom::freeCodeCount() <= PayloadState::sharedReserve && payloads_.hasRoomFor(payload.size()) &&
        !holdsLittleOfSharedTable())
        leaveSharedReserve();
    std::optional<TinyAtom> atom = registerLink();
    if (!atom) {
        if (payloads_.linksUntilCollectRetry > 0) {
            --payloads_.linksUntilCollectRetry;
            if (payloads_.hasRoomFor(payload.size()) && holdsLittleOfSharedTable() && askLargerHolders())
                atom = registerLink();
        } else {
            garbageCollectPayload();
            atom = registerLink();
            if (!atom && makeRoomForLink(payload.size()))
                atom = registerLink();
            if (!atom)
                payloads_.linksUntilCollectRetry = collectRetryInterval;
        }
    }
    if (!atom) {
        // The rest of this link's text prints without a link.
        activeHyperlink_ = ActiveHyperlink::unavailable();
        return std::nullopt;
    }
    payloads_.setLinkCode(atom->code, slot);
    publishHeldCodeCount();
    activeHyperlink_ = ActiveHyperlink::resolved(*atom);
    return atom->code;
}

std::optional<TinyAtom> Terminal::makePayload(std::any value)
{
    const std::optional<TinyAtom> atom = TinyAtom::lookup(std::move(value));
    if (atom) {
        payloads_.insert(*atom);
        publishHeldCodeCount();
    }
    return atom;
}

std::optional<std::string> stringPayload(PackedCell cell)
{
    const uint16_t code = cell.payloadCode();
    if (code == 0)
        return std::nullopt;
    const std::optional<std::any> target = TinyAtom{code}.target();
    if (!target)
        return std::nullopt;
    if (const std::string* text = std::any_cast<std::string>(&*target))
        return *text;
    return std::nullopt;
}

} // namespace kestrovan
