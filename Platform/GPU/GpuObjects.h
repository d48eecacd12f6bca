// The GL objects a caller holds: buffers, textures, shaders, programs, samplers, vertex arrays,
// framebuffers and fences, each owned through a `std::shared_ptr`.
//
// A GL object can only be deleted on a thread where its context is current, but its last owner
// may let go anywhere (a recycler dropping an idle buffer on another thread, a renderer released
// by the view). So dropping a handle never calls GL: it hands the object's name to its device's
// `ReleaseQueue`, and the device deletes the names waiting there the next time it runs on its
// context's thread (`Device::collectReleased`).
#pragma once

#include "Platform/GPU/GpuTypes.h"
#include "Platform/Sync/Mutex.h"

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace platform::gpu {

enum class ObjectKind : uint8_t
{
    buffer,
    texture,
    shader,
    program,
    sampler,
    vertexArray,
    framebuffer,
    fence,
};

/// The names of dropped objects, waiting for their context. Thread-safe.
class ReleaseQueue
{
public:
    void push(ObjectKind kind, uint64_t name) EXCLUDES(mutex_);
    /// Everything waiting, oldest first; the queue is empty afterwards.
    std::vector<std::pair<ObjectKind, uint64_t>> take() EXCLUDES(mutex_);

private:
    Mutex mutex_;
    std::vector<std::pair<ObjectKind, uint64_t>> names_ GUARDED_BY(mutex_);
};

/// One GL object. Its name is a GL object name, or the sync object's address for a fence.
class Object
{
public:
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;
    virtual ~Object();

    ObjectKind kind() const { return kind_; }
    uint64_t name() const { return name_; }
    /// The GL name of an object other than a fence.
    uint32_t glName() const { return static_cast<uint32_t>(name_); }

protected:
    Object(std::shared_ptr<ReleaseQueue> queue, ObjectKind kind, uint64_t name)
        : queue_(std::move(queue)), name_(name), kind_(kind)
    {}

private:
    std::shared_ptr<ReleaseQueue> queue_;
    uint64_t name_;
    ObjectKind kind_;
};

class Buffer final : public Object
{
public:
    Buffer(std::shared_ptr<ReleaseQueue> queue, uint64_t name, size_t length)
        : Object(std::move(queue), ObjectKind::buffer, name), length_(length)
    {}
    /// Its length in bytes, fixed at creation.
    size_t length() const { return length_; }

private:
    size_t length_;
};

class Texture final : public Object
{
public:
    Texture(std::shared_ptr<ReleaseQueue> queue, uint64_t name, TextureFormat format, PixelSize size)
        : Object(std::move(queue), ObjectKind::texture, name), format_(format), size_(size)
    {}
    TextureFormat format() const { return format_; }
    PixelSize size() const { return size_; }

private:
    TextureFormat format_;
    PixelSize size_;
};

class Shader final : public Object
{
public:
    Shader(std::shared_ptr<ReleaseQueue> queue, uint64_t name, ShaderStage stage)
        : Object(std::move(queue), ObjectKind::shader, name), stage_(stage)
    {}
    ShaderStage stage() const { return stage_; }

private:
    ShaderStage stage_;
};

/// A linked program. Its `viewport` uniform (a vec2 of the target's pixel size) and its texture
/// sampler on unit 0 are found once at link time.
class Program final : public Object
{
public:
    Program(std::shared_ptr<ReleaseQueue> queue, uint64_t name, int32_t viewportLocation)
        : Object(std::move(queue), ObjectKind::program, name), viewportLocation_(viewportLocation)
    {}
    /// Where the `viewport` uniform lives; -1 when the program has none.
    int32_t viewportLocation() const { return viewportLocation_; }

private:
    int32_t viewportLocation_;
};

class Sampler final : public Object
{
public:
    Sampler(std::shared_ptr<ReleaseQueue> queue, uint64_t name)
        : Object(std::move(queue), ObjectKind::sampler, name)
    {}
};

class VertexArray final : public Object
{
public:
    VertexArray(std::shared_ptr<ReleaseQueue> queue, uint64_t name)
        : Object(std::move(queue), ObjectKind::vertexArray, name)
    {}
};

/// A framebuffer drawing into one colour texture, which it keeps alive.
class Framebuffer final : public Object
{
public:
    Framebuffer(std::shared_ptr<ReleaseQueue> queue, uint64_t name, std::shared_ptr<Texture> color)
        : Object(std::move(queue), ObjectKind::framebuffer, name), color_(std::move(color))
    {}
    const std::shared_ptr<Texture>& color() const { return color_; }
    PixelSize size() const { return color_->size(); }

private:
    std::shared_ptr<Texture> color_;
};

/// A point in the command stream: signalled once the GPU has done everything submitted before it.
class Fence final : public Object
{
public:
    Fence(std::shared_ptr<ReleaseQueue> queue, uint64_t name)
        : Object(std::move(queue), ObjectKind::fence, name)
    {}
};

} // namespace platform::gpu
