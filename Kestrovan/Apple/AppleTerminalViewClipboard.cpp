// The kitty clipboard protocol's requests (OSC 5522) as the view answers them: each is allowed
// only when the host granted that direction on that clipboard, then answered on the main thread,
// by the host first and by the system clipboard when the host gives no answer.
#include "Kestrovan/Apple/AppleKittyClipboardCatalog.h"
#include "Kestrovan/Apple/AppleTerminalView.h"
#include "Kestrovan/KittyClipboardPacket.h"

namespace kestrovan {

namespace {

KittyClipboardCapabilities readCapability(KittyClipboardLocation location)
{
    return location == KittyClipboardLocation::standard ? KittyClipboardCapabilities::standardRead
                                                        : KittyClipboardCapabilities::primaryRead;
}

KittyClipboardCapabilities writeCapability(KittyClipboardLocation location)
{
    return location == KittyClipboardLocation::standard ? KittyClipboardCapabilities::standardWrite
                                                        : KittyClipboardCapabilities::primaryWrite;
}

} // namespace

bool TerminalView::kittyClipboardAvailableMimeTypes(
    Terminal& source, KittyClipboardLocation location,
    std::function<void(std::optional<std::vector<std::string>>)> completion)
{
    if (!kittyClipboardCapabilities(source).contains(readCapability(location)))
        return false;
    std::weak_ptr<TerminalView> weak = weak_from_this();
    onMain(
        [weak, location, completion = std::move(completion)] {
            const std::shared_ptr<TerminalView> view = weak.lock();
            if (!view) {
                completion(std::nullopt);
                return;
            }
            if (const std::shared_ptr<TerminalViewDelegate> delegate = view->terminalDelegate()) {
                if (std::optional<std::vector<std::string>> types =
                        delegate->kittyClipboardAvailableMimeTypes(*view, location)) {
                    completion(std::move(types));
                    return;
                }
            }
            const std::optional<std::vector<std::string>> identifiers =
                view->kittyPlatformTypeIdentifiers(location);
            if (!identifiers) {
                completion(std::nullopt);
                return;
            }
            completion(AppleKittyClipboardCatalog(*identifiers).mimeTypes);
        },
        "kittyClipboardAvailableMimeTypes(source:location:completion:)");
    return true;
}

bool TerminalView::kittyClipboardRead(Terminal& source, KittyClipboardLocation location,
                                      const std::string& mimeType,
                                      std::function<void(KittyClipboardReadResult)> completion)
{
    if (!kittyClipboardCapabilities(source).contains(readCapability(location)))
        return false;
    std::weak_ptr<TerminalView> weak = weak_from_this();
    onMain(
        [weak, location, mimeType, completion = std::move(completion)] {
            const std::shared_ptr<TerminalView> view = weak.lock();
            if (!view) {
                completion(KittyClipboardReadResult::unavailable());
                return;
            }
            if (const std::shared_ptr<TerminalViewDelegate> delegate = view->terminalDelegate()) {
                if (std::optional<KittyClipboardReadResult> answer =
                        delegate->kittyClipboardRead(*view, location, mimeType)) {
                    completion(std::move(*answer));
                    return;
                }
            }
            // The system clipboard: the format the type came from, read as the toolkit reads, later.
            const std::optional<std::vector<std::string>> identifiers =
                view->kittyPlatformTypeIdentifiers(location);
            const std::optional<std::string> identifier =
                identifiers ? AppleKittyClipboardCatalog(*identifiers).identifier(mimeType) : std::nullopt;
            if (!identifier) {
                completion(KittyClipboardReadResult::unavailable());
                return;
            }
            view->kittyPlatformData(location, *identifier,
                                    [completion](std::optional<std::vector<uint8_t>> data) {
                                        completion(data ? KittyClipboardReadResult::data(std::move(*data))
                                                        : KittyClipboardReadResult::unavailable());
                                    });
        },
        "kittyClipboardRead(source:location:mimeType:completion:)");
    return true;
}

bool TerminalView::kittyClipboardWrite(Terminal& source, KittyClipboardLocation location,
                                       const KittyClipboardWriteContent& content,
                                       std::function<void(KittyClipboardWriteResult)> completion)
{
    if (!kittyClipboardCapabilities(source).contains(writeCapability(location)))
        return false;
    std::weak_ptr<TerminalView> weak = weak_from_this();
    onMain(
        [weak, location, content, completion = std::move(completion)] {
            const std::shared_ptr<TerminalView> view = weak.lock();
            if (!view) {
                completion(KittyClipboardWriteResult::ioError);
                return;
            }
            KittyClipboardWriteResult result = KittyClipboardWriteResult::unsupported;
            if (const std::shared_ptr<TerminalViewDelegate> delegate = view->terminalDelegate())
                result = delegate->kittyClipboardWrite(*view, location, content);
            if (result == KittyClipboardWriteResult::unsupported)
                result = view->kittyPlatformWrite(location, content);
            completion(result);
        },
        "kittyClipboardWrite(source:location:content:completion:)");
    return true;
}

bool TerminalView::kittyClipboardRequestPermission(
    Terminal& source, const KittyClipboardPermissionRequest& request,
    std::function<void(KittyClipboardPermissionResult)> completion)
{
    const KittyClipboardCapabilities needed = request.direction == KittyClipboardPermissionDirection::read
                                                  ? readCapability(request.location)
                                                  : writeCapability(request.location);
    if (!kittyClipboardCapabilities(source).contains(needed))
        return false;
    std::weak_ptr<TerminalView> weak = weak_from_this();
    onMain(
        [weak, request, completion = std::move(completion)] {
            const std::shared_ptr<TerminalView> view = weak.lock();
            const std::shared_ptr<TerminalViewDelegate> delegate = view ? view->terminalDelegate() : nullptr;
            // Nobody to ask is a refusal.
            completion(delegate ? delegate->kittyClipboardRequestPermission(*view, request)
                                : KittyClipboardPermissionResult::deny());
        },
        "kittyClipboardRequestPermission(source:request:completion:)");
    return true;
}

KittyClipboardWriteResult TerminalView::kittyPlatformWrite(KittyClipboardLocation location,
                                                           const KittyClipboardWriteContent& content)
{
    std::vector<std::pair<std::string, std::vector<uint8_t>>> items;
    for (const KittyClipboardRepresentation& representation : content.flattened()) {
        // The toolkit names clipboard formats by MIME type: each representation goes under its
        // own (lower-cased) name, so other programs find the type the program wrote.
        if (!KittyClipboardMime::isValid(representation.mimeType))
            return KittyClipboardWriteResult::invalidData;
        items.emplace_back(KittyClipboardMime::matchKey(representation.mimeType), representation.data);
    }
    return kittyPlatformPublish(location, items);
}

} // namespace kestrovan
