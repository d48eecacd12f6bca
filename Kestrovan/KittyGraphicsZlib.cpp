#include "Kestrovan/KittyGraphicsZlib.h"

#include "Kestrovan/KittyGraphicsPayload.h"

#include <algorithm>
#include <limits>
#include <zlib.h>

namespace kestrovan {

namespace {

/// Keeps zlib's stream state released on every exit path.
class RawInflater
{
public:
    RawInflater()
    {
        // A negative window size asks zlib for a raw DEFLATE stream without its own framing.
        ready_ = inflateInit2(&stream_, -15) == Z_OK;
    }
    ~RawInflater()
    {
        if (ready_)
            inflateEnd(&stream_);
    }
    RawInflater(const RawInflater&) = delete;
    RawInflater& operator=(const RawInflater&) = delete;

    bool ready() const { return ready_; }
    z_stream& stream() { return stream_; }

private:
    z_stream stream_{};
    bool ready_ = false;
};

} // namespace

std::optional<std::vector<uint8_t>> decompressZlib(std::span<const uint8_t> data, int64_t limit,
                                                   std::optional<int64_t> keep)
{
    if (data.size() < 6)
        return std::nullopt;
    const uint8_t cmf = data[0];
    const uint8_t flg = data[1];
    // Method 8 (DEFLATE) with a window of at most 32 KiB, a valid header check, no preset dictionary.
    if ((cmf & 0x8F) != 8 || (cmf * 256 + flg) % 31 != 0 || (flg & 0x20) != 0)
        return std::nullopt;
    const std::span<const uint8_t> deflate = data.subspan(2, data.size() - 6);
    if (deflate.empty())
        return std::nullopt;
    const std::span<const uint8_t> trailer = data.last(4);
    const uint32_t expectedAdler = (uint32_t{trailer[0]} << 24) | (uint32_t{trailer[1]} << 16) |
                                   (uint32_t{trailer[2]} << 8) | uint32_t{trailer[3]};

    limit = std::min(limit, kittyMaximumDataBytes);
    if (limit <= 0)
        return std::nullopt;
    const int64_t kept = keep ? std::clamp<int64_t>(*keep, 0, limit) : limit;

    // The first buffer fits a small image at once; a longer stream starts at twice its length.
    const int64_t first = deflate.size() < 32'768 ? std::min<int64_t>(limit, 65'536)
                                                  : std::min(static_cast<int64_t>(deflate.size()) * 2, limit);

    RawInflater inflater;
    if (!inflater.ready())
        return std::nullopt;
    z_stream& stream = inflater.stream();
    std::vector<uint8_t> output(static_cast<size_t>(std::min(first, kept)));
    // Output past what the caller keeps lands here, only to be counted and checksummed.
    std::vector<uint8_t> scratch;
    // The stream is at most 68 MiB (an APC body) or 400 MiB (a file), within zlib's 32-bit count.
    stream.next_in = const_cast<Bytef*>(deflate.data());
    stream.avail_in = static_cast<uInt>(deflate.size());
    uLong adler = adler32(0, Z_NULL, 0);
    int64_t total = 0;
    size_t produced = 0;
    for (;;) {
        if (total == limit) {
            // zlib may fill the output before it reads the stream's end, so a stream exactly as
            // long as the limit still has to be told apart from one that goes on: one byte more is
            // asked for, and only a stream that ends without giving it is accepted.
            uint8_t probe = 0;
            stream.next_out = &probe;
            stream.avail_out = 1;
            if (inflate(&stream, Z_NO_FLUSH) != Z_STREAM_END || stream.avail_out != 1)
                return std::nullopt;
            break;
        }
        uint8_t* target = nullptr;
        int64_t room = 0;
        if (static_cast<int64_t>(produced) < kept) {
            // The kept output is full and the stream goes on: double it, up to what is kept.
            if (produced == output.size())
                output.resize(
                    static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(output.size()) * 2, kept)));
            target = output.data() + produced;
            room = static_cast<int64_t>(output.size() - produced);
        } else {
            if (scratch.empty())
                scratch.resize(65'536);
            target = scratch.data();
            room = static_cast<int64_t>(scratch.size());
        }
        room = std::min(room, limit - total);
        stream.next_out = target;
        stream.avail_out = static_cast<uInt>(room);
        const int status = inflate(&stream, Z_NO_FLUSH);
        const int64_t got = room - stream.avail_out;
        adler = adler32(adler, target, static_cast<uInt>(got));
        total += got;
        if (static_cast<int64_t>(produced) < kept)
            produced += static_cast<size_t>(got);
        if (status == Z_STREAM_END)
            break;
        if (status != Z_OK && status != Z_BUF_ERROR)
            return std::nullopt;
        // Output room is left, so zlib stopped for lack of input: the stream is cut short.
        if (stream.avail_out != 0)
            return std::nullopt;
    }
    if (total == 0 || adler != expectedAdler)
        return std::nullopt;
    output.resize(produced);
    return output;
}

} // namespace kestrovan
