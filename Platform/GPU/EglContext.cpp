#include "Platform/GPU/EglContext.h"

#include <atomic>
#include <dlfcn.h>
#include <epoxy/egl.h>

namespace platform::gpu {

namespace {

/// The GLX calls that find and switch a thread's current GLX context, from the process's libGL.
///
/// One thread cannot have a GLX and an EGL context current at once (GL's dispatch refuses to make
/// the second current), and GTK draws with GLX on X11 and keeps its context current on the main
/// thread. So an EGL context made current there first releases the GLX one, and gives it back
/// afterwards. Only a process that has loaded libGL can have a GLX context at all; the library is
/// looked up, never loaded.
struct Glx
{
    using Pointer = void*;
    using XID = unsigned long;
    Pointer (*getCurrentContext)();
    Pointer (*getCurrentDisplay)();
    XID (*getCurrentDrawable)();
    XID (*getCurrentReadDrawable)();
    int (*makeContextCurrent)(Pointer display, XID draw, XID read, Pointer context);

    /// The GLX context current on this thread, saved so that it can be made current again.
    struct Current
    {
        Pointer display = nullptr;
        XID draw = 0;
        XID read = 0;
        Pointer context = nullptr;
    };

    Current current() const
    {
        Current saved;
        saved.context = getCurrentContext();
        if (saved.context) {
            saved.display = getCurrentDisplay();
            saved.draw = getCurrentDrawable();
            saved.read = getCurrentReadDrawable();
        }
        return saved;
    }
};

const Glx* loadedGlx()
{
    static std::atomic<const Glx*> found{nullptr};
    if (const Glx* glx = found.load())
        return glx;
    void* library = dlopen("libGL.so.1", RTLD_LAZY | RTLD_NOLOAD);
    if (!library)
        return nullptr;
    auto* glx = new Glx{
        reinterpret_cast<Glx::Pointer (*)()>(dlsym(library, "glXGetCurrentContext")),
        reinterpret_cast<Glx::Pointer (*)()>(dlsym(library, "glXGetCurrentDisplay")),
        reinterpret_cast<Glx::XID (*)()>(dlsym(library, "glXGetCurrentDrawable")),
        reinterpret_cast<Glx::XID (*)()>(dlsym(library, "glXGetCurrentReadDrawable")),
        reinterpret_cast<int (*)(Glx::Pointer, Glx::XID, Glx::XID, Glx::Pointer)>(
            dlsym(library, "glXMakeContextCurrent")),
    };
    if (!glx->getCurrentContext || !glx->getCurrentDisplay || !glx->getCurrentDrawable ||
        !glx->getCurrentReadDrawable || !glx->makeContextCurrent) {
        delete glx;
        return nullptr;
    }
    const Glx* expected = nullptr;
    if (!found.compare_exchange_strong(expected, glx)) {
        delete glx;
        return expected;
    }
    return glx;
}

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
    const Glx* glx = loadedGlx();
    const Glx::Current previousGlx = glx ? glx->current() : Glx::Current{};
    if (previousGlx.context)
        glx->makeContextCurrent(previousGlx.display, 0, 0, nullptr);
    const bool current = eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, context_) == EGL_TRUE;
    EGLDisplay display = display_;
    return ContextScope(current, [=] {
        if (previousContext != EGL_NO_CONTEXT)
            eglMakeCurrent(previousDisplay, previousDraw, previousRead, previousContext);
        else
            eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        eglBindAPI(previousApi);
        if (previousGlx.context)
            glx->makeContextCurrent(previousGlx.display, previousGlx.draw, previousGlx.read,
                                    previousGlx.context);
    });
}

std::shared_ptr<GLDevice> makeEglDevice(GLApi api)
{
    return GLDevice::make(EglContext::make(api));
}

} // namespace platform::gpu
