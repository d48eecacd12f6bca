// Helpers for the kitty graphics tests: a terminal whose host reports a cell size and records
// replies, APC G commands built from keys and raw bytes, and a manual animation clock whose timer
// items the test fires by hand.
#pragma once

#include "tests/Kestrovan/RecordingTerminalDelegate.h"

#include "Kestrovan/Base64.h"
#include "Kestrovan/KittyGraphicsEngine.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalInnerState.h"
#include "Platform/Image/PngImage.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>
#include <zlib.h>

namespace kestrovan::testing {

class KittyDelegate : public RecordingTerminalDelegate
{
public:
    std::optional<CellPixelSize> cellSize;
    std::optional<CellPixelSize> cellSizeInPixels(Terminal&) override { return cellSize; }
};

/// Timer items the engine armed, fired by the test.
struct ManualAnimationClock
{
    struct Item
    {
        uint64_t deadline = 0;
        std::function<void()> work;
    };
    uint64_t now = 1'000'000'000;
    std::vector<Item> items;
};

inline std::string base64(const std::vector<uint8_t>& bytes)
{
    return base64Encode(bytes);
}

inline std::string base64(std::string_view text)
{
    return base64Encode(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

/// `pixels` RGBA pixels of one colour.
inline std::vector<uint8_t> solidRgba(int pixels, uint8_t r, uint8_t g, uint8_t b, uint8_t a = 255)
{
    std::vector<uint8_t> out;
    for (int i = 0; i < pixels; ++i)
        out.insert(out.end(), {r, g, b, a});
    return out;
}

/// A zlib stream (header, DEFLATE, Adler-32) of the bytes.
inline std::vector<uint8_t> zlibCompress(const std::vector<uint8_t>& bytes)
{
    uLongf size = compressBound(static_cast<uLong>(bytes.size()));
    std::vector<uint8_t> out(size);
    compress(out.data(), &size, bytes.data(), static_cast<uLong>(bytes.size()));
    out.resize(size);
    return out;
}

struct KittyFixture
{
    std::shared_ptr<KittyDelegate> delegate = std::make_shared<KittyDelegate>();
    std::shared_ptr<Terminal> terminal;
    std::shared_ptr<ManualAnimationClock> clock = std::make_shared<ManualAnimationClock>();

    explicit KittyFixture(int cols = 80, int rows = 24, int scrollback = 100,
                          std::function<void(TerminalOptions&)> configure = nullptr)
    {
        TerminalOptions options = TerminalOptions::defaults();
        options.cols = cols;
        options.rows = rows;
        options.scrollback = scrollback;
        if (configure)
            configure(options);
        terminal = Terminal::create(delegate, options);
        std::weak_ptr<ManualAnimationClock> weakClock = clock;
        KittyAnimationClock manual;
        manual.now = [weakClock] {
            auto clock = weakClock.lock();
            return clock ? clock->now : 0;
        };
        manual.schedule = [weakClock](uint64_t deadline, std::function<void()> work) {
            if (auto clock = weakClock.lock())
                clock->items.push_back({deadline, std::move(work)});
        };
        terminal->setKittyAnimationClock(std::move(manual));
    }

    Terminal& t() { return *terminal; }
    KittyGraphicsEngine engine() { return KittyGraphicsEngine(*terminal); }
    const KittyGraphicsScreenState& screen() const
    {
        return (*terminal->innerState().kittyGraphics).active();
    }

    /// Sends ESC _ G keys [; payload] ESC \ as child output.
    void command(const std::string& keys, const std::string& payload = std::string())
    {
        std::string text = "\x1b_G" + keys;
        if (!payload.empty())
            text += ";" + payload;
        text += "\x1b\\";
        terminal->feed(text);
    }
    /// Transmits raw RGBA pixels with extra keys.
    void transmitRgba(const std::string& keys, int width, int height, const std::vector<uint8_t>& rgba)
    {
        command(keys + ",f=32,s=" + std::to_string(width) + ",v=" + std::to_string(height), base64(rgba));
    }
    /// The bodies of the kitty replies sent so far (without introducer and terminator), and clears them.
    std::vector<std::string> replies()
    {
        std::vector<std::string> out;
        for (const auto& bytes : delegate->sends) {
            const std::string text(bytes.begin(), bytes.end());
            if (text.rfind("\x1b_", 0) == 0 && text.size() >= 4)
                out.push_back(text.substr(2, text.size() - 4));
            else if (!text.empty() && static_cast<uint8_t>(text[0]) == 0x9F)
                out.push_back(text.substr(1, text.size() - 2));
        }
        delegate->sends.clear();
        return out;
    }
    /// The one reply sent, or "" when none was.
    std::string reply()
    {
        const auto all = replies();
        return all.empty() ? std::string() : all.back();
    }
    /// Fires every armed timer item that is due at the clock's time, in deadline order.
    void fireDueTimers()
    {
        auto items = std::move(clock->items);
        clock->items.clear();
        for (auto& item : items) {
            if (item.deadline <= clock->now)
                item.work();
            else
                clock->items.push_back(std::move(item));
        }
    }
};

} // namespace kestrovan::testing
