// The GL backend on headless EGL (llvmpipe): both APIs, textures that cannot be made, region
// uploads from a wider copy, read-back, fences, deleting dropped objects on the context's thread,
// restoring the previous context, and the device probe.

#include "Platform/GPU/EglContext.h"
#include "Platform/GPU/SystemDevice.h"

#include <epoxy/egl.h>
#include <epoxy/gl.h>
#include <gtest/gtest.h>
#include <numeric>
#include <vector>

namespace platform::gpu {
namespace {

const GLApi apis[] = {GLApi::openGL, GLApi::openGLES};

const char* apiName(GLApi api)
{
    return api == GLApi::openGL ? "GL 3.3 core" : "GL ES 3.0";
}

/// Reads a whole texture through a framebuffer.
std::vector<uint8_t> readTexture(Device& device, const std::shared_ptr<Texture>& texture)
{
    auto framebuffer = device.makeFramebuffer(texture);
    EXPECT_TRUE(framebuffer);
    const PixelSize size = texture->size();
    std::vector<uint8_t> pixels(size_t(size.width * size.height * 4));
    if (framebuffer) {
        EXPECT_TRUE(device.readPixels(framebuffer->glName(), {0, 0, size.width, size.height}, pixels.data()));
    }
    return pixels;
}

TEST(GLDeviceTests, DevicesOfBothApisDescribeTheirRenderer)
{
    for (GLApi api : apis) {
        auto device = makeEglDevice(api);
        ASSERT_TRUE(device) << apiName(api);
        EXPECT_NE(device->info().renderer.find("llvmpipe"), std::string::npos) << device->info().renderer;
        EXPECT_GE(device->info().maxTextureSize, 1024);
        EXPECT_EQ(device->info().isES, api == GLApi::openGLES);
    }
}

TEST(GLDeviceTests, TexturesTakeRegionsFromAWiderCopyAndReadBackUnchanged)
{
    for (GLApi api : apis) {
        auto device = makeEglDevice(api);
        ASSERT_TRUE(device);
        const ContextScope scope = device->bindCurrent();
        ASSERT_TRUE(scope.isCurrent());
        const int max = device->info().maxTextureSize;
        EXPECT_FALSE(device->makeTexture(TextureFormat::r8, {max + 1, 4})) << apiName(api);
        EXPECT_FALSE(device->makeTexture(TextureFormat::rgba8, {0, 4})) << apiName(api);

        // A 5 x 3 grey region at (2, 1) from a copy 9 texels wide: one byte a texel, rows not
        // 4-byte aligned.
        auto grey = device->makeTexture(TextureFormat::r8, {16, 8});
        ASSERT_TRUE(grey);
        // A grey texel reads back as red (with opaque alpha, as a one-channel texture has none).
        const auto red = [](const std::vector<uint8_t>& bgra) {
            std::vector<uint8_t> channel;
            for (size_t i = 2; i < bgra.size(); i += 4)
                channel.push_back(bgra[i]);
            return channel;
        };
        EXPECT_EQ(red(readTexture(*device, grey)), std::vector<uint8_t>(16 * 8, 0))
            << "zero-filled " << apiName(api);
        std::vector<uint8_t> copy(9 * 3);
        std::iota(copy.begin(), copy.end(), uint8_t(1));
        ASSERT_TRUE(device->replaceRegion(*grey, {2, 1, 5, 3}, copy.data(), 9));
        const std::vector<uint8_t> read = red(readTexture(*device, grey));
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 16; ++x) {
                const bool inside = x >= 2 && x < 7 && y >= 1 && y < 4;
                const uint8_t expected = inside ? copy[size_t((y - 1) * 9 + (x - 2))] : 0;
                ASSERT_EQ(read[size_t(y * 16 + x)], expected) << apiName(api) << " " << x << "," << y;
            }
        // Outside the texture: refused.
        EXPECT_FALSE(device->replaceRegion(*grey, {14, 0, 5, 1}, copy.data(), 9));
    }
}

TEST(GLDeviceTests, BlueGreenRedAlphaTexturesReadBackAsUploaded)
{
    auto device = makeEglDevice(GLApi::openGL);
    ASSERT_TRUE(device);
    const ContextScope scope = device->bindCurrent();
    auto texture = device->makeTexture(TextureFormat::bgra8, {4, 2});
    ASSERT_TRUE(texture);
    std::vector<uint8_t> bytes(4 * 2 * 4);
    std::iota(bytes.begin(), bytes.end(), uint8_t(10));
    ASSERT_TRUE(device->replaceRegion(*texture, {0, 0, 4, 2}, bytes.data(), 16));
    EXPECT_EQ(readTexture(*device, texture), bytes);
}

TEST(GLDeviceTests, DroppedObjectsAreDeletedOnlyWhenCollected)
{
    auto device = makeEglDevice(GLApi::openGL);
    ASSERT_TRUE(device);
    const ContextScope scope = device->bindCurrent();
    auto buffer = device->makeBuffer(64);
    auto texture = device->makeTexture(TextureFormat::rgba8, {4, 4});
    auto fence = device->insertFence();
    ASSERT_TRUE(buffer && texture && fence);
    const GLuint bufferName = buffer->glName();
    const GLuint textureName = texture->glName();
    const auto sync = reinterpret_cast<GLsync>(uintptr_t(fence->name()));
    EXPECT_TRUE(device->waitForFence(*fence, std::chrono::seconds(5)));
    EXPECT_TRUE(device->isSignalled(*fence));
    buffer.reset();
    texture.reset();
    fence.reset();
    EXPECT_TRUE(glIsBuffer(bufferName));
    EXPECT_TRUE(glIsTexture(textureName));
    EXPECT_TRUE(glIsSync(sync));
    device->collectReleased();
    EXPECT_FALSE(glIsBuffer(bufferName));
    EXPECT_FALSE(glIsTexture(textureName));
    EXPECT_FALSE(glIsSync(sync));
}

TEST(GLDeviceTests, BindingAContextRestoresThePreviousOneAfterwards)
{
    auto first = EglContext::make(GLApi::openGL);
    auto second = EglContext::make(GLApi::openGL);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(eglGetCurrentContext(), EGL_NO_CONTEXT);
    {
        const ContextScope outer = first->bind();
        ASSERT_TRUE(outer.isCurrent());
        const EGLContext firstContext = eglGetCurrentContext();
        {
            const ContextScope inner = second->bind();
            ASSERT_TRUE(inner.isCurrent());
            EXPECT_NE(eglGetCurrentContext(), firstContext);
            // Binding the current context again changes nothing.
            const ContextScope again = second->bind();
            EXPECT_TRUE(again.isCurrent());
        }
        EXPECT_EQ(eglGetCurrentContext(), firstContext);
    }
    eglBindAPI(EGL_OPENGL_API);
    EXPECT_EQ(eglGetCurrentContext(), EGL_NO_CONTEXT);
}

TEST(GLDeviceTests, SoftwareRasterizersAreToldByNameOrByMesasVariable)
{
    const struct
    {
        const char* renderer;
        const char* variable;
        bool software;
    } cases[] = {
        {"llvmpipe (LLVM 15.0.6, 256 bits)", nullptr, true},
        {"softpipe", nullptr, true},
        {"Mesa swrast", nullptr, true},
        {"Software Rasterizer", nullptr, true},
        {"AMD Radeon RX 6600 (navi23, LLVM 15.0.6, DRM 3.49)", nullptr, false},
        {"Mesa Intel(R) UHD Graphics 620 (KBL GT2)", nullptr, false},
        {"Mesa Intel(R) UHD Graphics 620 (KBL GT2)", "1", true},
        {"Mesa Intel(R) UHD Graphics 620 (KBL GT2)", "true", true},
        {"Mesa Intel(R) UHD Graphics 620 (KBL GT2)", "0", false},
        {"Mesa Intel(R) UHD Graphics 620 (KBL GT2)", "", false},
        {"", nullptr, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(isSoftwareRenderer(c.renderer, c.variable), c.software)
            << c.renderer << " with " << (c.variable ? c.variable : "(unset)");
}

TEST(GLDeviceTests, TheProbeRunsOncePerProcess)
{
    const SystemDeviceProbe& probe = systemDeviceProbe();
    ASSERT_TRUE(probe.device);
    EXPECT_NE(probe.renderer.find("llvmpipe"), std::string::npos);
    EXPECT_TRUE(probe.isSoftware);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(&systemDeviceProbe(), &probe);
    EXPECT_EQ(systemDeviceProbeCount(), 1);
}

} // namespace
} // namespace platform::gpu
