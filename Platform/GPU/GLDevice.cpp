#include "Platform/GPU/GLDevice.h"

#include <algorithm>
#include <epoxy/gl.h>
#include <utility>

namespace platform::gpu {

namespace {

/// Drops errors left by earlier calls, so that the next check sees only its own call's. Bounded,
/// since a lost context may report an error on every call.
void clearErrors()
{
    for (int i = 0; i < 16 && glGetError() != GL_NO_ERROR; ++i) {
    }
}

bool noError()
{
    return glGetError() == GL_NO_ERROR;
}

GLenum blendFactor(BlendFactor factor)
{
    switch (factor) {
    case BlendFactor::zero:
        return GL_ZERO;
    case BlendFactor::one:
        return GL_ONE;
    case BlendFactor::sourceAlpha:
        return GL_SRC_ALPHA;
    case BlendFactor::oneMinusSourceAlpha:
        return GL_ONE_MINUS_SRC_ALPHA;
    }
    return GL_ONE;
}

GLsync syncOf(const Fence& fence)
{
    return reinterpret_cast<GLsync>(static_cast<uintptr_t>(fence.name()));
}

std::string infoLog(GLuint object, bool isProgram)
{
    GLint length = 0;
    if (isProgram)
        glGetProgramiv(object, GL_INFO_LOG_LENGTH, &length);
    else
        glGetShaderiv(object, GL_INFO_LOG_LENGTH, &length);
    std::string log(size_t(std::max(length, 1)), '\0');
    GLsizei written = 0;
    if (isProgram)
        glGetProgramInfoLog(object, GLsizei(log.size()), &written, log.data());
    else
        glGetShaderInfoLog(object, GLsizei(log.size()), &written, log.data());
    log.resize(size_t(std::max(written, 0)));
    return log;
}

} // namespace

std::shared_ptr<GLDevice> GLDevice::make(std::shared_ptr<ContextBinding> binding)
{
    if (!binding)
        return nullptr;
    const ContextScope scope = binding->bind();
    if (!scope.isCurrent())
        return nullptr;
    std::shared_ptr<GLDevice> device(new GLDevice(std::move(binding)));
    const auto* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    device->info_.renderer = renderer ? renderer : "";
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &device->info_.maxTextureSize);
    device->info_.isES = device->binding_->isES();
    return device;
}

GLDevice::GLDevice(std::shared_ptr<ContextBinding> binding) : binding_(std::move(binding)) {}

GLDevice::~GLDevice()
{
    const ContextScope scope = binding_->bind();
    if (scope.isCurrent())
        collectReleased();
}

std::shared_ptr<Buffer> GLDevice::makeBuffer(size_t length)
{
    GLuint name = 0;
    glGenBuffers(1, &name);
    if (name == 0)
        return nullptr;
    clearErrors();
    glBindBuffer(GL_ARRAY_BUFFER, name);
    glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(length), nullptr, GL_DYNAMIC_DRAW);
    if (!noError()) {
        glDeleteBuffers(1, &name);
        return nullptr;
    }
    return std::make_shared<Buffer>(releaseQueue(), name, length);
}

void GLDevice::writeBuffer(const Buffer& buffer, size_t offset, const void* bytes, size_t length)
{
    if (length == 0 || offset + length > buffer.length())
        return;
    glBindBuffer(GL_ARRAY_BUFFER, buffer.glName());
    glBufferSubData(GL_ARRAY_BUFFER, GLintptr(offset), GLsizeiptr(length), bytes);
}

std::shared_ptr<Texture> GLDevice::makeTexture(TextureFormat format, PixelSize size)
{
    if (size.isEmpty())
        return nullptr;
    GLuint name = 0;
    glGenTextures(1, &name);
    if (name == 0)
        return nullptr;
    clearErrors();
    glBindTexture(GL_TEXTURE_2D, name);
    // One level only, so the texture is complete without mipmaps.
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    const bool grey = format == TextureFormat::r8;
    glTexImage2D(GL_TEXTURE_2D, 0, grey ? GL_R8 : GL_RGBA8, size.width, size.height, 0,
                 grey ? GL_RED : GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    // GL reports a texture it could not allocate only here; unchecked, it would sample as black.
    bool made = noError();
    if (made && format == TextureFormat::bgra8 && info_.isES) {
        // ES uploads no BGRA: the bytes go in as RGBA and sampling swaps red and blue back.
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_R, GL_BLUE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_B, GL_RED);
    }
    if (made)
        made = clearTexture(name);
    if (!made) {
        glDeleteTextures(1, &name);
        return nullptr;
    }
    return std::make_shared<Texture>(releaseQueue(), name, format, size);
}

bool GLDevice::clearTexture(uint32_t texture)
{
    GLint previous = 0;
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &previous);
    GLuint framebuffer = 0;
    glGenFramebuffers(1, &framebuffer);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, framebuffer);
    glFramebufferTexture2D(GL_DRAW_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
    const bool complete = glCheckFramebufferStatus(GL_DRAW_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    if (complete) {
        glClearColor(0, 0, 0, 0);
        glClear(GL_COLOR_BUFFER_BIT);
    }
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, GLuint(previous));
    glDeleteFramebuffers(1, &framebuffer);
    return complete && noError();
}

bool GLDevice::replaceRegion(const Texture& texture, PixelRect region, const uint8_t* bytes,
                             size_t bytesPerRow)
{
    const PixelSize size = texture.size();
    if (region.width <= 0 || region.height <= 0 || region.x < 0 || region.y < 0 ||
        region.x + region.width > size.width || region.y + region.height > size.height)
        return false;
    const int pixelBytes = bytesPerPixel(texture.format());
    GLenum format = GL_RGBA;
    if (texture.format() == TextureFormat::r8)
        format = GL_RED;
    else if (texture.format() == TextureFormat::bgra8 && !info_.isES)
        format = GL_BGRA;
    clearErrors();
    glBindTexture(GL_TEXTURE_2D, texture.glName());
    // Rows of one-byte pixels are not 4-byte aligned, and the rows come from a wider copy.
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, GLint(bytesPerRow / size_t(pixelBytes)));
    glTexSubImage2D(GL_TEXTURE_2D, 0, region.x, region.y, region.width, region.height, format,
                    GL_UNSIGNED_BYTE, bytes);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    return noError();
}

std::shared_ptr<Shader> GLDevice::compileShader(ShaderStage stage, std::string_view source, std::string& log)
{
    const GLuint name = glCreateShader(stage == ShaderStage::vertex ? GL_VERTEX_SHADER : GL_FRAGMENT_SHADER);
    if (name == 0) {
        log = "the shader object could not be created";
        return nullptr;
    }
    const GLchar* text = source.data();
    const auto length = GLint(source.size());
    glShaderSource(name, 1, &text, &length);
    glCompileShader(name);
    GLint compiled = GL_FALSE;
    glGetShaderiv(name, GL_COMPILE_STATUS, &compiled);
    if (compiled != GL_TRUE) {
        log = infoLog(name, false);
        glDeleteShader(name);
        return nullptr;
    }
    return std::make_shared<Shader>(releaseQueue(), name, stage);
}

std::shared_ptr<Program> GLDevice::linkProgram(const Shader& vertex, const Shader& fragment, std::string& log)
{
    const GLuint name = glCreateProgram();
    if (name == 0) {
        log = "the program object could not be created";
        return nullptr;
    }
    glAttachShader(name, vertex.glName());
    glAttachShader(name, fragment.glName());
    glLinkProgram(name);
    // Detached, the shaders are freed as soon as their own handles go.
    glDetachShader(name, vertex.glName());
    glDetachShader(name, fragment.glName());
    GLint linked = GL_FALSE;
    glGetProgramiv(name, GL_LINK_STATUS, &linked);
    if (linked != GL_TRUE) {
        log = infoLog(name, true);
        glDeleteProgram(name);
        return nullptr;
    }
    const GLint viewport = glGetUniformLocation(name, "viewport");
    const GLint sampler = glGetUniformLocation(name, "atlas");
    if (sampler >= 0) {
        GLint previous = 0;
        glGetIntegerv(GL_CURRENT_PROGRAM, &previous);
        glUseProgram(name);
        glUniform1i(sampler, 0);
        glUseProgram(GLuint(previous));
    }
    return std::make_shared<Program>(releaseQueue(), name, viewport);
}

std::shared_ptr<Sampler> GLDevice::makeSampler()
{
    GLuint name = 0;
    glGenSamplers(1, &name);
    if (name == 0)
        return nullptr;
    glSamplerParameteri(name, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glSamplerParameteri(name, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glSamplerParameteri(name, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glSamplerParameteri(name, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    return std::make_shared<Sampler>(releaseQueue(), name);
}

std::shared_ptr<VertexArray> GLDevice::makeVertexArray()
{
    GLuint name = 0;
    glGenVertexArrays(1, &name);
    if (name == 0)
        return nullptr;
    return std::make_shared<VertexArray>(releaseQueue(), name);
}

std::shared_ptr<Framebuffer> GLDevice::makeFramebuffer(std::shared_ptr<Texture> color)
{
    if (!color)
        return nullptr;
    GLint previous = 0;
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &previous);
    GLuint name = 0;
    glGenFramebuffers(1, &name);
    if (name == 0)
        return nullptr;
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, name);
    glFramebufferTexture2D(GL_DRAW_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, color->glName(), 0);
    const bool complete = glCheckFramebufferStatus(GL_DRAW_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, GLuint(previous));
    if (!complete) {
        glDeleteFramebuffers(1, &name);
        return nullptr;
    }
    return std::make_shared<Framebuffer>(releaseQueue(), name, std::move(color));
}

void GLDevice::beginPass(const RenderPass& pass)
{
    glBindFramebuffer(GL_FRAMEBUFFER, pass.framebuffer);
    glViewport(0, 0, pass.size.width, pass.size.height);
    // Whatever a toolkit left on, the renderer writes its colours unchanged into every pixel.
    if (!info_.isES)
        glDisable(GL_FRAMEBUFFER_SRGB);
    glDisable(GL_SCISSOR_TEST);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_STENCIL_TEST);
    glDisable(GL_CULL_FACE);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    if (pass.clear) {
        glClearColor(pass.clear->red, pass.clear->green, pass.clear->blue, pass.clear->alpha);
        glClear(GL_COLOR_BUFFER_BIT);
    }
}

void GLDevice::setPipeline(const Program& program, const BlendState& blend)
{
    glUseProgram(program.glName());
    if (!blend.enabled) {
        glDisable(GL_BLEND);
        return;
    }
    glEnable(GL_BLEND);
    glBlendEquation(GL_FUNC_ADD);
    glBlendFuncSeparate(blendFactor(blend.sourceColor), blendFactor(blend.destinationColor),
                        blendFactor(blend.sourceAlpha), blendFactor(blend.destinationAlpha));
}

void GLDevice::setViewportSize(const Program& program, float width, float height)
{
    if (program.viewportLocation() >= 0)
        glUniform2f(program.viewportLocation(), width, height);
}

void GLDevice::bindTexture(const Texture& texture, const Sampler& sampler)
{
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, texture.glName());
    glBindSampler(0, sampler.glName());
}

void GLDevice::draw(const VertexArray& vertexArray, const Buffer& buffer, const VertexLayout& layout,
                    uint32_t recordCount)
{
    if (recordCount == 0)
        return;
    glBindVertexArray(vertexArray.glName());
    if (preparedVertexArray_ != vertexArray.glName() || preparedBuffer_ != buffer.glName() ||
        !(preparedLayout_ == layout)) {
        glBindBuffer(GL_ARRAY_BUFFER, buffer.glName());
        uint32_t used = 0;
        for (uint32_t i = 0; i < layout.attributeCount; ++i) {
            const VertexAttribute& attribute = layout.attributes[i];
            used |= 1u << attribute.location;
            glEnableVertexAttribArray(attribute.location);
            glVertexAttribPointer(attribute.location, GLint(attribute.components), GL_FLOAT, GL_FALSE,
                                  GLsizei(layout.stride),
                                  reinterpret_cast<const void*>(uintptr_t(attribute.offset)));
            glVertexAttribDivisor(attribute.location, layout.perInstance ? 1 : 0);
        }
        for (uint32_t location = 0; location < VertexLayout::maxAttributes; ++location)
            if ((used & (1u << location)) == 0)
                glDisableVertexAttribArray(location);
        preparedVertexArray_ = vertexArray.glName();
        preparedBuffer_ = buffer.glName();
        preparedLayout_ = layout;
    }
    if (layout.perInstance)
        glDrawArraysInstanced(GL_TRIANGLES, 0, 6, GLsizei(recordCount));
    else
        glDrawArrays(GL_TRIANGLES, 0, GLsizei(recordCount));
}

void GLDevice::flush()
{
    glFlush();
}

std::shared_ptr<Fence> GLDevice::insertFence()
{
    GLsync sync = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
    if (!sync)
        return nullptr;
    return std::make_shared<Fence>(releaseQueue(), reinterpret_cast<uintptr_t>(sync));
}

bool GLDevice::isSignalled(const Fence& fence)
{
    const GLenum status = glClientWaitSync(syncOf(fence), GL_SYNC_FLUSH_COMMANDS_BIT, 0);
    return status == GL_ALREADY_SIGNALED || status == GL_CONDITION_SATISFIED;
}

bool GLDevice::waitForFence(const Fence& fence, std::chrono::nanoseconds timeout)
{
    const GLenum status = glClientWaitSync(syncOf(fence), GL_SYNC_FLUSH_COMMANDS_BIT,
                                           GLuint64(std::max<int64_t>(timeout.count(), 0)));
    return status == GL_ALREADY_SIGNALED || status == GL_CONDITION_SATISFIED;
}

bool GLDevice::readPixels(uint32_t framebuffer, PixelRect rect, uint8_t* bgra)
{
    if (rect.width <= 0 || rect.height <= 0)
        return false;
    GLint previous = 0;
    glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &previous);
    clearErrors();
    glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    glReadPixels(rect.x, rect.y, rect.width, rect.height, info_.isES ? GL_RGBA : GL_BGRA, GL_UNSIGNED_BYTE,
                 bgra);
    const bool read = noError();
    glBindFramebuffer(GL_READ_FRAMEBUFFER, GLuint(previous));
    if (read && info_.isES) {
        const size_t count = size_t(rect.width) * size_t(rect.height);
        for (size_t i = 0; i < count; ++i)
            std::swap(bgra[i * 4], bgra[i * 4 + 2]);
    }
    return read;
}

void GLDevice::deleteObject(ObjectKind kind, uint64_t name)
{
    const auto glName = GLuint(name);
    switch (kind) {
    case ObjectKind::buffer:
        glDeleteBuffers(1, &glName);
        break;
    case ObjectKind::texture:
        glDeleteTextures(1, &glName);
        break;
    case ObjectKind::shader:
        glDeleteShader(glName);
        break;
    case ObjectKind::program:
        glDeleteProgram(glName);
        break;
    case ObjectKind::sampler:
        glDeleteSamplers(1, &glName);
        break;
    case ObjectKind::vertexArray:
        glDeleteVertexArrays(1, &glName);
        break;
    case ObjectKind::framebuffer:
        glDeleteFramebuffers(1, &glName);
        break;
    case ObjectKind::fence:
        glDeleteSync(reinterpret_cast<GLsync>(static_cast<uintptr_t>(name)));
        break;
    }
    // Names come back into use: the prepared vertex array must be set up afresh.
    preparedVertexArray_ = 0;
    preparedBuffer_ = 0;
}

} // namespace platform::gpu
