// The back reference from a line to the buffer that owns it, and what a line may ask of that
// buffer.
//
// Lines are shared by reference and can outlive their buffer (render snapshots keep them), so a
// line never holds its buffer: it holds a shared `BufferRef`, which the buffer creates once and
// clears in its destructor. A line that outlives its buffer then sees no owner.
//
// The one question a line asks its buffer is about the active prompt origin: when cells and
// prompt marks are copied between lines, the mark that starts the active prompt group must win
// over a stale mark of the same kind, and the buffer's record of the start line must follow it.
// The buffer answers through `PromptOriginProvider`, which it implements and registers in its
// `BufferRef` beside itself; the lines never need the `Buffer` type.
#pragma once

#include "Kestrovan/SemanticContent.h"

namespace kestrovan {

class Buffer;
class BufferLine;

/// Implemented by the buffer: its record of where the active prompt group starts.
class PromptOriginProvider
{
public:
    virtual ~PromptOriginProvider() = default;

    /// True when a mark of `kind` at `column` on `line` is the buffer's active prompt origin:
    /// `line` is the start line the buffer recorded, and `kind` and `column` are those of the
    /// origin mark it reports (its first `initial` mark, else its first `secondary` mark).
    virtual bool isActivePromptOrigin(const BufferLine& line, SemanticPromptKind kind, int column) const = 0;

    /// The origin mark was copied onto `to` from another line: `to` is now the start line.
    virtual void promptStartLineMoved(BufferLine& to) = 0;
};

/// A shared, non-owning reference to a line's buffer. The buffer sets both pointers to itself
/// when it creates its reference and calls `clear()` before it is destroyed.
class BufferRef
{
public:
    Buffer* buffer = nullptr;
    PromptOriginProvider* promptOrigins = nullptr;

    BufferRef() = default;
    BufferRef(Buffer* owner, PromptOriginProvider* origins) : buffer(owner), promptOrigins(origins) {}

    void clear()
    {
        buffer = nullptr;
        promptOrigins = nullptr;
    }
};

} // namespace kestrovan
