// The renderer's construction on the recording device: the seven pipelines with their blending,
// where the shader sources come from, and every failure with its case, its text and no GL object
// left behind.

#include "WithoutWaiting.h"

#include "Kestrovan/Apple/Metal/MetalOffscreenTarget.h"
#include "Kestrovan/Apple/Metal/MetalTerminalRenderer.h"
#include "Platform/GPU/RecordingDevice.h"
#include "Platform/Log/Log.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrovan {
namespace {

using platform::gpu::BlendFactor;
using platform::gpu::BlendState;
using platform::gpu::RecordingDevice;
using Operation = RecordingDevice::Operation;

struct RendererSetup
{
    explicit RendererSetup(RecordingDevice::Info info = {"recording", 16384, false})
        : device(std::make_shared<RecordingDevice>(info)),
          target(std::make_shared<MetalOffscreenTarget>(device, platform::Size{64, 32}))
    {}

    std::variant<std::shared_ptr<MetalTerminalRenderer>, MetalError>
    make(const MetalRendererOptions& options = noDirectory())
    {
        return MetalTerminalRenderer::make(target, options);
    }
    static MetalRendererOptions noDirectory()
    {
        MetalRendererOptions options;
        options.shaderDirectory.reset();
        return options;
    }

    std::shared_ptr<RecordingDevice> device;
    std::shared_ptr<MetalOffscreenTarget> target;
};

/// A directory of shader files that disappears with the object.
struct ShaderDirectory
{
    explicit ShaderDirectory(const MetalShaderSources& sources)
        : path(std::filesystem::temp_directory_path() / ("kestrovan-shaders-" + std::to_string(getpid())))
    {
        std::filesystem::create_directories(path);
        for (const auto& [name, source] : sources)
            std::ofstream(path / (name + ".glsl")) << source;
    }
    ~ShaderDirectory() { std::filesystem::remove_all(path); }
    std::filesystem::path path;
};

/// Every built-in source with a marker comment appended.
MetalShaderSources markedSources(const std::string& marker)
{
    MetalShaderSources sources = builtInShaderSources();
    for (auto& entry : sources)
        entry.second += "// " + marker + "\n";
    return sources;
}

std::shared_ptr<MetalTerminalRenderer>
renderer(std::variant<std::shared_ptr<MetalTerminalRenderer>, MetalError> made)
{
    if (auto* error = std::get_if<MetalError>(&made)) {
        ADD_FAILURE() << error->description();
        return nullptr;
    }
    return std::get<std::shared_ptr<MetalTerminalRenderer>>(made);
}

TEST(MetalRendererSetupTests, BuildsSevenPipelinesWithTheirBlending)
{
    const BlendState premultiplied{true, BlendFactor::one, BlendFactor::oneMinusSourceAlpha, BlendFactor::one,
                                   BlendFactor::oneMinusSourceAlpha};
    const BlendState straight{true, BlendFactor::sourceAlpha, BlendFactor::oneMinusSourceAlpha,
                              BlendFactor::one, BlendFactor::oneMinusSourceAlpha};
    for (bool isES : {false, true}) {
        RendererSetup setup({"recording", 16384, isES});
        auto made = renderer(setup.make());
        ASSERT_TRUE(made);
        const struct
        {
            const MetalPipeline& pipeline;
            BlendState blend;
        } pipelines[] = {
            {made->textPipeline, premultiplied},       {made->textGrayPipeline, premultiplied},
            {made->cellTextPipeline, premultiplied},   {made->cellTextGrayPipeline, premultiplied},
            {made->colorPipeline, straight},           {made->cellColorPipeline, straight},
            {made->cellBackgroundReplacePipeline, {}},
        };
        std::set<uint64_t> programs;
        for (const auto& entry : pipelines) {
            ASSERT_TRUE(entry.pipeline.program);
            EXPECT_EQ(entry.pipeline.blend, entry.blend);
            programs.insert(entry.pipeline.program->name());
        }
        EXPECT_EQ(programs.size(), 7u);
        // Both atlases at their starting side, on the target's device, which the renderer keeps.
        EXPECT_EQ(made->grayscaleAtlas().size(), 1024);
        EXPECT_EQ(made->colorAtlas().size(), 1024);
        EXPECT_EQ(made->grayscaleAtlas().format(), GlyphAtlasFormat::grayscale);
        EXPECT_EQ(made->device(), setup.device);
        EXPECT_EQ(setup.target->renderDevice(), setup.device);
        EXPECT_EQ(made->renderSurface(), nullptr);
        // The shaders, compiled behind the context's version line, were deleted once linked.
        EXPECT_EQ(setup.device->liveObjectCount(platform::gpu::ObjectKind::shader), 0u);
        EXPECT_EQ(shaderPrelude(isES).rfind(isES ? "#version 300 es\n" : "#version 330 core\n", 0), 0u);
    }
}

TEST(MetalRendererSetupTests, EveryConstructionFailureGivesItsCaseAndLeavesNothing)
{
    const struct
    {
        Operation operation;
        int nth;
        MetalError error;
    } cases[] = {
        {Operation::makeVertexArray, 1, MetalError::commandQueueUnavailable},
        {Operation::makeTexture, 1, MetalError::atlasUnavailable},
        {Operation::makeTexture, 2, MetalError::atlasUnavailable},
        {Operation::compileShader, 1,
         MetalError::shaderCompilationFailed("terminal_text_vertex: recorded compile failure")},
        {Operation::compileShader, 7,
         MetalError::shaderCompilationFailed("terminal_color_fragment: recorded compile failure")},
        {Operation::linkProgram, 1, MetalError::pipelineCreationFailed("text/color/cell")},
        {Operation::linkProgram, 4, MetalError::pipelineCreationFailed("text/color/cell")},
        {Operation::linkProgram, 7, MetalError::pipelineCreationFailed("text/color/cell")},
        {Operation::makeSampler, 1, MetalError::samplerUnavailable},
    };
    for (const auto& c : cases) {
        RendererSetup setup;
        setup.device->failAt(c.operation, c.nth);
        auto made = setup.make();
        ASSERT_TRUE(std::holds_alternative<MetalError>(made)) << c.error.description();
        EXPECT_EQ(std::get<MetalError>(made), c.error);
        EXPECT_EQ(setup.device->liveObjectCount(), 0u) << c.error.description();
        // The device was given to the target before the failure, and it keeps it.
        EXPECT_EQ(setup.target->renderDevice(), setup.device);
    }
}

TEST(MetalRendererSetupTests, ALinkFailureIsLoggedWithTheLinkersLog)
{
    std::vector<std::string> lines;
    platform::setLogSink([&](const platform::LogRecord& record) { lines.emplace_back(record.message); });
    RendererSetup setup;
    setup.device->failAt(Operation::linkProgram, 5);
    auto made = setup.make();
    platform::setLogSink({});
    EXPECT_EQ(std::get<MetalError>(made).description(), "Failed to create GPU pipeline: text/color/cell");
    EXPECT_EQ(
        lines,
        (std::vector<std::string>{
            "linking terminal_color_vertex with terminal_color_fragment failed: recorded link failure"}));
}

TEST(MetalRendererSetupTests, ShaderSourcesComeFromACompleteDirectoryElseTheBuiltInOnes)
{
    struct Case
    {
        const char* name;
        MetalShaderSources directory;
        const char* failingMarker;
        bool fromDirectory;
    };
    MetalShaderSources missingOne = markedSources("from the directory");
    missingOne.erase("terminal_cell_color_vertex");
    const Case cases[] = {
        {"complete", markedSources("from the directory"), nullptr, true},
        {"missing one", missingOne, nullptr, false},
        {"one not compiling", markedSources("from the directory"), "from the directory", false},
    };
    for (const Case& c : cases) {
        RendererSetup setup;
        ShaderDirectory directory(c.directory);
        if (c.failingMarker)
            setup.device->failCompiling(c.failingMarker);
        auto made = makeShaderLibrary(*setup.device, builtInShaderSources(), directory.path.string());
        ASSERT_TRUE(std::holds_alternative<MetalShaderLibrary>(made)) << c.name;
        const auto& library = std::get<MetalShaderLibrary>(made);
        for (std::string_view function : requiredShaderFunctions) {
            const std::string& source = setup.device->shaderSource(*library.function(function));
            EXPECT_EQ(source.find("from the directory") != std::string::npos, c.fromDirectory)
                << c.name << " " << function;
            EXPECT_EQ(source.rfind(shaderPrelude(false), 0), 0u) << c.name;
        }
        // The renderer makes the same choice.
        MetalRendererOptions options;
        options.shaderDirectory = directory.path.string();
        EXPECT_TRUE(renderer(setup.make(options))) << c.name;
    }
}

TEST(MetalRendererSetupTests, AFifoInPlaceOfADirectorySourceIsRefusedNotWaitedOn)
{
    RendererSetup setup;
    ShaderDirectory directory(markedSources("from the directory"));
    const std::string fifo = (directory.path / "terminal_text_fragment.glsl").string();
    std::filesystem::remove(fifo);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::vector<std::string> lines;
    platform::setLogSink([&](const platform::LogRecord& record) { lines.emplace_back(record.message); });
    const auto fromDirectory = withoutWaitingOn<std::optional<bool>>(fifo, [&]() -> std::optional<bool> {
        auto made = makeShaderLibrary(*setup.device, builtInShaderSources(), directory.path.string());
        if (!std::holds_alternative<MetalShaderLibrary>(made))
            return std::nullopt;
        const auto& library = std::get<MetalShaderLibrary>(made);
        const std::string& source = setup.device->shaderSource(*library.function("terminal_text_vertex"));
        return source.find("from the directory") != std::string::npos;
    });
    platform::setLogSink({});
    if (!fromDirectory)
        return;
    ASSERT_TRUE(*fromDirectory) << "a library is made";
    EXPECT_FALSE(**fromDirectory) << "the built-in sources serve";
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "shader source not read: " + fifo + ": a FIFO, not a regular file");
}

TEST(MetalRendererSetupTests, BuiltInSourcesLackingAFunctionOrFailingToCompileAreErrors)
{
    const std::string allSeven =
        "terminal_text_vertex, terminal_cell_text_vertex, terminal_text_fragment, "
        "terminal_text_fragment_gray, terminal_color_vertex, terminal_cell_color_vertex, "
        "terminal_color_fragment";
    for (std::string_view missing : requiredShaderFunctions) {
        MetalShaderSources sources = builtInShaderSources();
        sources.erase(std::string(missing));
        RendererSetup setup;
        MetalRendererOptions options = RendererSetup::noDirectory();
        options.embeddedSources = &sources;
        auto made = setup.make(options);
        ASSERT_TRUE(std::holds_alternative<MetalError>(made)) << missing;
        EXPECT_EQ(std::get<MetalError>(made), MetalError::shaderFunctionMissing(allSeven)) << missing;
        EXPECT_EQ(setup.device->liveObjectCount(), 0u);
    }
    MetalShaderSources broken = builtInShaderSources();
    broken["terminal_text_fragment_gray"] += "BROKEN";
    RendererSetup setup;
    setup.device->failCompiling("BROKEN");
    MetalRendererOptions options = RendererSetup::noDirectory();
    options.embeddedSources = &broken;
    EXPECT_EQ(std::get<MetalError>(setup.make(options)),
              MetalError::shaderCompilationFailed("terminal_text_fragment_gray: BROKEN"));
    EXPECT_EQ(setup.device->liveObjectCount(), 0u);
}

} // namespace
} // namespace kestrovan
