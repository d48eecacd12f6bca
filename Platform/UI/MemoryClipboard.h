// A clipboard held in memory: the test twin of the display's clipboards, with the same contract
// (reads answered later on the main queue, a change counter that goes up on every change) and
// hooks a test needs: contents another program "puts" there, reads held back until the test lets
// them finish, and a refusal to publish.
#pragma once

#include "Platform/UI/Clipboard.h"

#include <functional>
#include <memory>
#include <vector>

namespace platform {

class MemoryClipboard final : public Clipboard
{
public:
    uint64_t changeCount() const override { return changes_; }
    std::vector<std::string> formats() const override;
    bool setText(std::string text) override;
    bool publish(const ClipboardItems& items) override;
    void readText(TextCompletion completion) override;
    void read(const std::string& mimeType, DataCompletion completion) override;

    /// Another program takes the clipboard with these formats (as `publish`, without the checks).
    void takeOwnership(const ClipboardItems& items);
    /// The bytes of one format now, for checking what was published.
    std::optional<std::vector<uint8_t>> contents(const std::string& mimeType) const;

    /// When set, reads wait until `finishReads`; otherwise each is answered on the main queue.
    bool holdReads = false;
    /// Answers every held read with the contents as they are now.
    void finishReads();
    size_t heldReads() const { return held_.size(); }
    /// Called while `formats` reads the formats, for a test to change the clipboard right then.
    std::function<void()> whileListing;
    /// When set, `publish` and `setText` refuse and leave the contents alone.
    bool refuseWrites = false;
    /// How many times the contents were set through `setText` or `publish`.
    int writes = 0;

private:
    /// The contents: formats and their bytes, shared between formats and with pending reads.
    using Items = std::vector<std::pair<std::string, std::shared_ptr<const std::string>>>;
    using Reply = std::function<void(const Items&)>;
    void answer(Reply reply);
    static Items itemsOf(const ClipboardItems& items);

    Items items_;
    uint64_t changes_ = 0;
    std::vector<Reply> held_;
};

} // namespace platform
