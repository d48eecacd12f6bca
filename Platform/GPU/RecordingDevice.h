// The recording backend: a `Device` that draws nothing and writes down what it was asked.
//
// Tests that need no pixels use it to see which programs, blend states, bindings, uploads and
// draws a renderer issues, in order, as short lines ("pipeline 7 blend off", "draw cells 12 from
// buffer 4"); to make any kind of creation fail on purpose; and to count the objects alive, so that
// a failed construction can be shown to leave none behind. Fences signal when the test says so.
#pragma once

#include "Platform/GPU/Device.h"

#include <map>
#include <set>
#include <string>
#include <vector>

namespace platform::gpu {

class RecordingDevice final : public Device
{
public:
    /// The creations that can be made to fail.
    enum class Operation : uint8_t
    {
        makeBuffer,
        makeTexture,
        compileShader,
        linkProgram,
        makeSampler,
        makeVertexArray,
        makeFramebuffer,
        insertFence,
        replaceRegion,
    };

    explicit RecordingDevice(Info info = {"recording", 16384, false});

    const Info& info() const override { return info_; }
    ContextScope bindCurrent() override { return ContextScope(true, {}); }

    std::shared_ptr<Buffer> makeBuffer(size_t length) override;
    void writeBuffer(const Buffer& buffer, size_t offset, const void* bytes, size_t length) override;
    std::shared_ptr<Texture> makeTexture(TextureFormat format, PixelSize size) override;
    bool replaceRegion(const Texture& texture, PixelRect region, const uint8_t* bytes,
                       size_t bytesPerRow) override;
    std::shared_ptr<Shader> compileShader(ShaderStage stage, std::string_view source,
                                          std::string& log) override;
    std::shared_ptr<Program> linkProgram(const Shader& vertex, const Shader& fragment,
                                         std::string& log) override;
    std::shared_ptr<Sampler> makeSampler() override;
    std::shared_ptr<VertexArray> makeVertexArray() override;
    std::shared_ptr<Framebuffer> makeFramebuffer(std::shared_ptr<Texture> color) override;

    void beginPass(const RenderPass& pass) override;
    void setPipeline(const Program& program, const BlendState& blend) override;
    void setViewportSize(const Program& program, float width, float height) override;
    void bindTexture(const Texture& texture, const Sampler& sampler) override;
    void draw(const VertexArray& vertexArray, const Buffer& buffer, const VertexLayout& layout,
              uint32_t recordCount) override;
    void flush() override;
    std::shared_ptr<Fence> insertFence() override;
    bool isSignalled(const Fence& fence) override;
    bool waitForFence(const Fence& fence, std::chrono::nanoseconds timeout) override;
    /// Reads zeros.
    bool readPixels(uint32_t framebuffer, PixelRect rect, uint8_t* bgra) override;

    /// Makes the `nth` call of `operation` from now on fail (1 is the next one).
    void failAt(Operation operation, int nth = 1);
    /// Makes compiling any source that contains `marker` fail, with the marker as its log.
    void failCompiling(std::string marker) { failingSourceMarker_ = std::move(marker); }

    /// Signals every fence inserted so far.
    void signalFences();
    /// Objects made and not yet deleted (deleting happens in `collectReleased`).
    size_t liveObjectCount() const;
    /// Live objects of one kind.
    size_t liveObjectCount(ObjectKind kind) const;
    /// What the device was asked, one line per call that matters to a renderer.
    const std::vector<std::string>& events() const { return events_; }
    void clearEvents() { events_.clear(); }
    /// The source each compiled shader was made from.
    const std::string& shaderSource(const Shader& shader) const;
    /// The bytes written to buffers so far, by buffer name: what a draw would read.
    const std::vector<uint8_t>& bufferContents(const Buffer& buffer) const;

private:
    bool shouldFail(Operation operation);
    uint64_t nextName(ObjectKind kind);
    void deleteObject(ObjectKind kind, uint64_t name) override;

    Info info_;
    uint64_t lastName_ = 0;
    std::map<Operation, int> failures_;
    std::string failingSourceMarker_;
    std::map<uint64_t, ObjectKind> live_;
    std::map<uint64_t, std::string> shaderSources_;
    std::map<uint64_t, std::vector<uint8_t>> bufferContents_;
    std::set<uint64_t> signalledFences_;
    std::vector<std::string> events_;
};

} // namespace platform::gpu
