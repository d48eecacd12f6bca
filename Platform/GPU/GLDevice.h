// The GL backend: a `Device` whose operations are OpenGL 3.3 core (or OpenGL ES 3.0) calls made
// through libepoxy on one context.
//
// Where the context comes from is the `ContextBinding`'s business: an EGL surfaceless context for
// tests and read-back (`EglContext`), GTK's GL contexts in windows. The device itself only needs
// to make it current. The differences between desktop GL and ES are kept here: ES has no BGRA
// uploads or read-back (blue-green-red-alpha textures are uploaded as RGBA with red and blue
// swizzled, and pixels read as RGBA are reordered) and no sRGB switch to turn off.
#pragma once

#include "Platform/GPU/Device.h"

#include <memory>

namespace platform::gpu {

/// A GL context that can be made current on the calling thread.
class ContextBinding
{
public:
    virtual ~ContextBinding() = default;
    /// Makes the context current until the scope ends; restores the previous context after.
    virtual ContextScope bind() = 0;
    virtual bool isES() const = 0;
};

class GLDevice final : public Device
{
public:
    /// A device on the binding's context; null when the context cannot be made current.
    static std::shared_ptr<GLDevice> make(std::shared_ptr<ContextBinding> binding);
    /// Deletes the objects still waiting in the release queue, with the context bound.
    ~GLDevice() override;

    const Info& info() const override { return info_; }
    ContextScope bindCurrent() override { return binding_->bind(); }

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
    bool readPixels(uint32_t framebuffer, PixelRect rect, uint8_t* bgra) override;

private:
    explicit GLDevice(std::shared_ptr<ContextBinding> binding);

    void deleteObject(ObjectKind kind, uint64_t name) override;
    /// Fills a new texture with zeros by clearing it through a scratch framebuffer.
    bool clearTexture(uint32_t texture);

    std::shared_ptr<ContextBinding> binding_;
    Info info_;
    // The records the vertex array was last set up for, so consecutive draws of one buffer skip
    // the attribute set-up. Forgotten whenever objects are deleted, since GL reuses names.
    uint32_t preparedVertexArray_ = 0;
    uint32_t preparedBuffer_ = 0;
    VertexLayout preparedLayout_;
};

} // namespace platform::gpu
