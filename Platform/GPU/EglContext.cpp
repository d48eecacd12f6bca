#include "Platform/GPU/EglContext.h"

#include <epoxy/egl.h>

namespace platform::gpu {

namespace {

/// The process's surfaceless EGL display, initialised on first use; none when Mesa's surfaceless
/// platform is missing.
EGLDisplay surfacelessDisplay()
{
    static const EGLDisplay display = [] {
        if (!epoxy_has_egl_extension(EGL_NO_DISPLAY, "EGL_MESA_platform_surfaceless"))
            return EGL_NO_DISPLAY;
        EGLDisplay made =
            eglGetPlatformDisplayEXT(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        if (made == EGL_NO_DISPLAY)
            return EGL_NO_DISPLAY;
        EGLint major = 0;
        EGLint minor = 0;
        if (!eglInitialize(made, &major, &minor))
            return EGL_NO_DISPLAY;
        // Contexts without a configuration and current without a surface: both are needed.
        if (!epoxy_has_egl_extension(made, "EGL_KHR_surfaceless_context") ||
            !epoxy_has_egl_extension(made, "EGL_KHR_no_config_context"))
            return EGL_NO_DISPLAY;
        return made;
    }();
    return display;
}

EGLenum eglApi(GLApi api)
{
    return api == GLApi::openGLES ? EGL_OPENGL_ES_API : EGL_OPENGL_API;
}

} // namespace

std::shared_ptr<EglContext> EglContext::make(GLApi api)
{
    EGLDisplay display = surfacelessDisplay();
    if (display == EGL_NO_DISPLAY)
        return nullptr;
    const EGLenum previousApi = eglQueryAPI();
    if (!eglBindAPI(eglApi(api)))
        return nullptr;
    const EGLint desktop[] = {EGL_CONTEXT_MAJOR_VERSION,
                              3,
                              EGL_CONTEXT_MINOR_VERSION,
                              3,
                              EGL_CONTEXT_OPENGL_PROFILE_MASK,
                              EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                              EGL_NONE};
    const EGLint embedded[] = {EGL_CONTEXT_MAJOR_VERSION, 3, EGL_CONTEXT_MINOR_VERSION, 0, EGL_NONE};
    EGLContext context = eglCreateContext(display, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT,
                                          api == GLApi::openGLES ? embedded : desktop);
    eglBindAPI(previousApi);
    if (context == EGL_NO_CONTEXT)
        return nullptr;
    return std::shared_ptr<EglContext>(new EglContext(display, context, api));
}

EglContext::~EglContext()
{
    // A context still current on this thread is released first, so that it really goes.
    if (eglGetCurrentContext() == context_)
        eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglDestroyContext(display_, context_);
}

ContextScope EglContext::bind()
{
    const EGLenum previousApi = eglQueryAPI();
    eglBindAPI(eglApi(api_));
    EGLContext previousContext = eglGetCurrentContext();
    if (previousContext == context_) {
        eglBindAPI(previousApi);
        return ContextScope(true, {});
    }
    EGLDisplay previousDisplay = eglGetCurrentDisplay();
    EGLSurface previousDraw = eglGetCurrentSurface(EGL_DRAW);
    EGLSurface previousRead = eglGetCurrentSurface(EGL_READ);
    const bool current = eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, context_) == EGL_TRUE;
    EGLDisplay display = display_;
    return ContextScope(current, [=] {
        if (previousContext != EGL_NO_CONTEXT)
            eglMakeCurrent(previousDisplay, previousDraw, previousRead, previousContext);
        else
            eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        eglBindAPI(previousApi);
    });
}

std::shared_ptr<GLDevice> makeEglDevice(GLApi api)
{
    return GLDevice::make(EglContext::make(api));
}

} // namespace platform::gpu
