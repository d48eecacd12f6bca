// Which renderer the window toolkit draws with when the user has not chosen one.
//
// GTK's default renderer draws through GL; on a machine without a GPU that GL is a software
// rasterizer, which costs more per frame, at start-up and in memory than GTK's cairo renderer.
// So when `GSK_RENDERER` is unset and the machine has no hardware GL, the process is told to use
// cairo before GTK starts. The probe is cheap where it can be: a machine without a usable DRM
// render node has no hardware GL, and only where one exists is the GL renderer's name asked for
// (through the process's GL device probe, whose answer the GPU renderer reuses later). Unless the
// caller means to draw with GL on the software rasterizer itself, GDK's own GL is switched off
// too (`GDK_DEBUG=gl-disable`): on X11, GDK otherwise loads and starts the GL driver when it opens
// the display, 30-40 ms of start-up that nothing would use.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace platform::gpu {

/// What the choice looks at.
struct ToolkitRendererFacts
{
    /// The value of `GSK_RENDERER`; null when unset.
    const char* userRenderer = nullptr;
    /// The value of `LIBGL_ALWAYS_SOFTWARE`; null when unset.
    const char* alwaysSoftware = nullptr;
    /// Whether a DRM render node can be opened.
    bool hasRenderNode = false;
    /// The GL renderer's name, asked only when the rest leaves the question open; empty when no GL
    /// context could be made.
    std::function<std::string()> glRenderer;
    /// Whether the caller draws with GL in its windows even on a software rasterizer.
    bool softwareGLWanted = false;
};

struct ToolkitRendererChoice
{
    /// The renderer the toolkit is told to use ("cairo"); nothing leaves the toolkit's own choice.
    std::optional<std::string> renderer;
    /// Whether GDK's GL is switched off as well.
    bool disableToolkitGL = false;

    friend bool operator==(const ToolkitRendererChoice&, const ToolkitRendererChoice&) = default;
};

/// What the toolkit should be told, from `facts`.
ToolkitRendererChoice toolkitRendererFor(const ToolkitRendererFacts& facts);

/// Whether `directory` holds a DRM render node (renderD*) this process can open for reading and
/// writing.
bool hasUsableRenderNode(const char* directory = "/dev/dri");

/// Looks at this machine and sets `GSK_RENDERER` to the chosen renderer when there is one (and
/// adds `gl-disable` to `GDK_DEBUG`, keeping the flags already there, when GDK's GL goes too).
/// Call it first thing in `main`, before GTK starts, telling whether the program draws with GL on
/// a software rasterizer; later calls change nothing. Returns the choice made by the first call.
ToolkitRendererChoice chooseToolkitRenderer(bool softwareGLWanted);

} // namespace platform::gpu
