#include "Platform/UI/MemoryClipboard.h"

#include "Platform/Dispatch/MainQueue.h"
#include "Platform/UI/Utf8.h"

#include <algorithm>

namespace platform {

namespace {

bool isTextFormat(const std::string& mimeType)
{
    return mimeType == "text/plain" || mimeType == "text/plain;charset=utf-8";
}

std::vector<uint8_t> bytesOf(const std::string& text)
{
    return std::vector<uint8_t>(text.begin(), text.end());
}

} // namespace

std::vector<std::string> MemoryClipboard::formats() const
{
    if (whileListing)
        whileListing();
    std::vector<std::string> types;
    for (const auto& item : items_)
        types.push_back(item.first);
    return types;
}

bool MemoryClipboard::setText(std::string text)
{
    if (refuseWrites)
        return false;
    // As the display's clipboard offers text: UTF-8, under both plain-text names, which share the
    // one string taken over here.
    if (!isValidUtf8(text))
        text = utf8FromScalars(scalarsFromUtf8(text));
    const auto bytes = std::make_shared<const std::string>(std::move(text));
    items_ = {{"text/plain;charset=utf-8", bytes}, {"text/plain", bytes}};
    ++changes_;
    ++writes;
    return true;
}

MemoryClipboard::Items MemoryClipboard::itemsOf(const ClipboardItems& items)
{
    Items stored;
    for (const auto& [mimeType, bytes] : items)
        stored.emplace_back(mimeType, std::make_shared<const std::string>(bytes.begin(), bytes.end()));
    return stored;
}

bool MemoryClipboard::publish(const ClipboardItems& items)
{
    if (refuseWrites)
        return false;
    items_ = itemsOf(items);
    ++changes_;
    ++writes;
    return true;
}

void MemoryClipboard::takeOwnership(const ClipboardItems& items)
{
    items_ = itemsOf(items);
    ++changes_;
}

std::optional<std::vector<uint8_t>> MemoryClipboard::contents(const std::string& mimeType) const
{
    const auto found =
        std::find_if(items_.begin(), items_.end(), [&](const auto& item) { return item.first == mimeType; });
    if (found == items_.end())
        return std::nullopt;
    return bytesOf(*found->second);
}

void MemoryClipboard::readText(TextCompletion completion)
{
    // The answer reads the contents when it runs (a held read sees later changes); it captures no
    // pointer to the clipboard, which a test may drop before the main queue runs.
    answer([completion = std::move(completion)](const Items& items) {
        for (const auto& [mimeType, bytes] : items) {
            if (isTextFormat(mimeType)) {
                completion(*bytes);
                return;
            }
        }
        completion(std::nullopt);
    });
}

void MemoryClipboard::read(const std::string& mimeType, DataCompletion completion)
{
    answer([mimeType, completion = std::move(completion)](const Items& items) {
        const auto found = std::find_if(items.begin(), items.end(),
                                        [&](const auto& item) { return item.first == mimeType; });
        completion(found == items.end() ? std::nullopt : std::optional(bytesOf(*found->second)));
    });
}

void MemoryClipboard::answer(Reply reply)
{
    if (holdReads) {
        held_.push_back(std::move(reply));
        return;
    }
    MainQueue::shared()->async([items = items_, reply = std::move(reply)] { reply(items); });
}

void MemoryClipboard::finishReads()
{
    std::vector<Reply> replies = std::move(held_);
    held_.clear();
    for (const Reply& reply : replies)
        reply(items_);
}

} // namespace platform
