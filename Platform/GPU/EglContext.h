// A GL context without any window: EGL on Mesa's surfaceless platform.
//
// It draws only into framebuffers of its own, which is all the tests, the read-back and the
// device probe need, and it works with no display server. Binding it on a thread where GTK keeps
// a GLX context current sets that context aside for the scope and makes it current again after. The EGL
// display is opened once per process and never closed (other contexts may still use it); each context is
// destroyed with its last owner.
#pragma once

#include "Platform/GPU/GLDevice.h"

#include <memory>

namespace platform::gpu {

/// Which API a context speaks.
enum class GLApi : uint8_t
{
    /// OpenGL 3.3 core profile.
    openGL,
    /// OpenGL ES 3.0.
    openGLES,
};

class EglContext final : public ContextBinding
{
public:
    /// A new surfaceless context of `api`; null when EGL, the surfaceless platform or the version
    /// is not available.
    static std::shared_ptr<EglContext> make(GLApi api);
    ~EglContext() override;

    ContextScope bind() override;
    bool isES() const override { return api_ == GLApi::openGLES; }

private:
    EglContext(void* display, void* context, GLApi api) : display_(display), context_(context), api_(api) {}

    void* display_;
    void* context_;
    GLApi api_;
};

/// A device on a new surfaceless context of `api`; null when none can be made.
std::shared_ptr<GLDevice> makeEglDevice(GLApi api);

} // namespace platform::gpu
