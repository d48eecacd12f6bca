#include "Platform/GPU/RecordingDevice.h"

#include <cstring>

namespace platform::gpu {

namespace {

const char* formatName(TextureFormat format)
{
    switch (format) {
    case TextureFormat::r8:
        return "r8";
    case TextureFormat::rgba8:
        return "rgba8";
    case TextureFormat::bgra8:
        return "bgra8";
    }
    return "?";
}

const char* factorName(BlendFactor factor)
{
    switch (factor) {
    case BlendFactor::zero:
        return "zero";
    case BlendFactor::one:
        return "one";
    case BlendFactor::sourceAlpha:
        return "sourceAlpha";
    case BlendFactor::oneMinusSourceAlpha:
        return "oneMinusSourceAlpha";
    }
    return "?";
}

std::string number(uint64_t value)
{
    return std::to_string(value);
}

} // namespace

RecordingDevice::RecordingDevice(Info info) : info_(std::move(info)) {}

bool RecordingDevice::shouldFail(Operation operation)
{
    auto found = failures_.find(operation);
    if (found == failures_.end())
        return false;
    if (--found->second > 0)
        return false;
    failures_.erase(found);
    return true;
}

uint64_t RecordingDevice::nextName(ObjectKind kind)
{
    const uint64_t name = ++lastName_;
    live_[name] = kind;
    return name;
}

void RecordingDevice::failAt(Operation operation, int nth)
{
    failures_[operation] = nth;
}

std::shared_ptr<Buffer> RecordingDevice::makeBuffer(size_t length)
{
    if (shouldFail(Operation::makeBuffer))
        return nullptr;
    const uint64_t name = nextName(ObjectKind::buffer);
    bufferContents_[name].assign(length, 0);
    return std::make_shared<Buffer>(releaseQueue(), name, length);
}

void RecordingDevice::writeBuffer(const Buffer& buffer, size_t offset, const void* bytes, size_t length)
{
    events_.push_back("write buffer " + number(buffer.name()) + " " + number(length) + " bytes");
    auto& contents = bufferContents_[buffer.name()];
    if (offset + length <= contents.size() && length > 0)
        std::memcpy(contents.data() + offset, bytes, length);
}

std::shared_ptr<Texture> RecordingDevice::makeTexture(TextureFormat format, PixelSize size)
{
    if (size.isEmpty() || size.width > info_.maxTextureSize || size.height > info_.maxTextureSize ||
        shouldFail(Operation::makeTexture))
        return nullptr;
    const uint64_t name = nextName(ObjectKind::texture);
    events_.push_back("make texture " + number(name) + " " + formatName(format) + " " + number(size.width) +
                      "x" + number(size.height));
    return std::make_shared<Texture>(releaseQueue(), name, format, size);
}

bool RecordingDevice::replaceRegion(const Texture& texture, PixelRect region, const uint8_t*,
                                    size_t bytesPerRow)
{
    if (shouldFail(Operation::replaceRegion))
        return false;
    events_.push_back("upload texture " + number(texture.name()) + " " + number(region.x) + "," +
                      number(region.y) + " " + number(region.width) + "x" + number(region.height) + " row " +
                      number(bytesPerRow));
    return true;
}

std::shared_ptr<Shader> RecordingDevice::compileShader(ShaderStage stage, std::string_view source,
                                                       std::string& log)
{
    if (!failingSourceMarker_.empty() && source.find(failingSourceMarker_) != std::string_view::npos) {
        log = failingSourceMarker_;
        return nullptr;
    }
    if (shouldFail(Operation::compileShader)) {
        log = "recorded compile failure";
        return nullptr;
    }
    const uint64_t name = nextName(ObjectKind::shader);
    shaderSources_[name] = std::string(source);
    return std::make_shared<Shader>(releaseQueue(), name, stage);
}

std::shared_ptr<Program> RecordingDevice::linkProgram(const Shader&, const Shader&, std::string& log)
{
    if (shouldFail(Operation::linkProgram)) {
        log = "recorded link failure";
        return nullptr;
    }
    return std::make_shared<Program>(releaseQueue(), nextName(ObjectKind::program), 0);
}

std::shared_ptr<Sampler> RecordingDevice::makeSampler()
{
    if (shouldFail(Operation::makeSampler))
        return nullptr;
    return std::make_shared<Sampler>(releaseQueue(), nextName(ObjectKind::sampler));
}

std::shared_ptr<VertexArray> RecordingDevice::makeVertexArray()
{
    if (shouldFail(Operation::makeVertexArray))
        return nullptr;
    return std::make_shared<VertexArray>(releaseQueue(), nextName(ObjectKind::vertexArray));
}

std::shared_ptr<Framebuffer> RecordingDevice::makeFramebuffer(std::shared_ptr<Texture> color)
{
    if (!color || shouldFail(Operation::makeFramebuffer))
        return nullptr;
    return std::make_shared<Framebuffer>(releaseQueue(), nextName(ObjectKind::framebuffer), std::move(color));
}

void RecordingDevice::beginPass(const RenderPass& pass)
{
    std::string line = "pass " + number(pass.framebuffer) + " " + number(uint64_t(pass.size.width)) + "x" +
                       number(uint64_t(pass.size.height));
    if (pass.clear)
        line += " clear";
    events_.push_back(line);
}

void RecordingDevice::setPipeline(const Program& program, const BlendState& blend)
{
    std::string line = "pipeline " + number(program.name()) + " blend ";
    if (!blend.enabled)
        line += "off";
    else
        line += std::string(factorName(blend.sourceColor)) + "," + factorName(blend.destinationColor) + ";" +
                factorName(blend.sourceAlpha) + "," + factorName(blend.destinationAlpha);
    events_.push_back(line);
}

void RecordingDevice::setViewportSize(const Program&, float width, float height)
{
    events_.push_back("viewport " + number(uint64_t(width)) + "x" + number(uint64_t(height)));
}

void RecordingDevice::bindTexture(const Texture& texture, const Sampler& sampler)
{
    events_.push_back("texture " + number(texture.name()) + " sampler " + number(sampler.name()));
}

void RecordingDevice::draw(const VertexArray&, const Buffer& buffer, const VertexLayout& layout,
                           uint32_t recordCount)
{
    events_.push_back(std::string("draw ") + (layout.perInstance ? "cells " : "vertices ") +
                      number(recordCount) + " from buffer " + number(buffer.name()));
}

void RecordingDevice::flush()
{
    events_.push_back("flush");
}

std::shared_ptr<Fence> RecordingDevice::insertFence()
{
    if (shouldFail(Operation::insertFence))
        return nullptr;
    const uint64_t name = nextName(ObjectKind::fence);
    events_.push_back("fence " + number(name));
    return std::make_shared<Fence>(releaseQueue(), name);
}

bool RecordingDevice::isSignalled(const Fence& fence)
{
    return signalledFences_.count(fence.name()) != 0;
}

bool RecordingDevice::waitForFence(const Fence& fence, std::chrono::nanoseconds)
{
    // Nothing runs on a recording GPU: waiting for a fence is finishing it.
    signalledFences_.insert(fence.name());
    return true;
}

bool RecordingDevice::readPixels(uint32_t, PixelRect rect, uint8_t* bgra)
{
    if (rect.width <= 0 || rect.height <= 0)
        return false;
    std::memset(bgra, 0, size_t(rect.width) * size_t(rect.height) * 4);
    return true;
}

void RecordingDevice::signalFences()
{
    for (const auto& [name, kind] : live_)
        if (kind == ObjectKind::fence)
            signalledFences_.insert(name);
}

size_t RecordingDevice::liveObjectCount() const
{
    return live_.size();
}

size_t RecordingDevice::liveObjectCount(ObjectKind kind) const
{
    size_t count = 0;
    for (const auto& entry : live_)
        count += entry.second == kind ? 1 : 0;
    return count;
}

const std::string& RecordingDevice::shaderSource(const Shader& shader) const
{
    static const std::string none;
    auto found = shaderSources_.find(shader.name());
    return found == shaderSources_.end() ? none : found->second;
}

const std::vector<uint8_t>& RecordingDevice::bufferContents(const Buffer& buffer) const
{
    static const std::vector<uint8_t> none;
    auto found = bufferContents_.find(buffer.name());
    return found == bufferContents_.end() ? none : found->second;
}

void RecordingDevice::deleteObject(ObjectKind, uint64_t name)
{
    live_.erase(name);
    shaderSources_.erase(name);
    bufferContents_.erase(name);
    signalledFences_.erase(name);
}

} // namespace platform::gpu
