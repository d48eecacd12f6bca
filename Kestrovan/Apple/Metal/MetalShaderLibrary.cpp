#include "Kestrovan/Apple/Metal/MetalShaderLibrary.h"

#include "Platform/Files/RegularFile.h"
#include "Platform/Log/Log.h"

#include <cstdlib>

namespace kestrovan {

namespace {

const platform::Logger& shaderLog()
{
    static const platform::Logger logger("org.morvane.Kestrovan", "GPUShaders");
    return logger;
}

platform::gpu::ShaderStage stageOf(std::string_view name)
{
    return name.ends_with("_vertex") ? platform::gpu::ShaderStage::vertex
                                     : platform::gpu::ShaderStage::fragment;
}

/// Compiles every source of `sources` that is one of the seven functions. On the first failure,
/// gives the function's name and the compiler's log in `failure`.
MetalShaderLibrary compileSources(platform::gpu::Device& device, const MetalShaderSources& sources,
                                  std::optional<std::string>& failure)
{
    const std::string prelude = shaderPrelude(device.info().isES);
    MetalShaderLibrary library;
    for (std::string_view name : requiredShaderFunctions) {
        auto found = sources.find(name);
        if (found == sources.end())
            continue;
        std::string log;
        auto shader = device.compileShader(stageOf(name), prelude + found->second, log);
        if (!shader) {
            failure = std::string(name) + ": " + log;
            return {};
        }
        library.functions.emplace(std::string(name), std::move(shader));
    }
    return library;
}

bool hasRequiredFunctions(const MetalShaderLibrary& library)
{
    for (std::string_view name : requiredShaderFunctions)
        if (!library.function(name))
            return false;
    return true;
}

} // namespace

std::shared_ptr<platform::gpu::Shader> MetalShaderLibrary::function(std::string_view name) const
{
    auto found = functions.find(name);
    return found == functions.end() ? nullptr : found->second;
}

std::string shaderPrelude(bool isES)
{
    // The line directive keeps the compiler's line numbers those of the source file.
    return isES ? "#version 300 es\nprecision highp float;\nprecision highp int;\n#line 1\n"
                : "#version 330 core\n#line 1\n";
}

std::optional<MetalShaderSources> loadShaderDirectory(const std::string& directory)
{
    // One shader source is a few kilobytes; a megabyte is far past any of them.
    constexpr size_t maximumSourceBytes = 1 << 20;
    MetalShaderSources sources;
    for (std::string_view name : requiredShaderFunctions) {
        const std::string path = directory + "/" + std::string(name) + ".glsl";
        // Only a regular file is read: a FIFO in the directory is refused, never waited on.
        platform::FileResult<std::string> text = platform::readRegularFile(path, maximumSourceBytes);
        if (!text) {
            if (text.error().failure != platform::FileFailure::missing)
                shaderLog().logf(platform::LogLevel::error, "shader source not read: %s",
                                 text.error().message().c_str());
            return std::nullopt;
        }
        sources.emplace(std::string(name), std::move(text.value()));
    }
    return sources;
}

std::optional<std::string> environmentShaderDirectory()
{
    static const std::optional<std::string> directory = []() -> std::optional<std::string> {
        const char* value = std::getenv("KESTROVAN_SHADER_DIR");
        if (!value || *value == '\0')
            return std::nullopt;
        return std::string(value);
    }();
    return directory;
}

std::variant<MetalShaderLibrary, MetalError> makeShaderLibrary(platform::gpu::Device& device,
                                                               const MetalShaderSources& embedded,
                                                               const std::optional<std::string>& directory)
{
    // The development directory serves only whole: all seven sources, all compiling. Anything
    // less falls back to the built-in sources, with the reason in the log.
    if (directory) {
        if (auto sources = loadShaderDirectory(*directory)) {
            std::optional<std::string> failure;
            MetalShaderLibrary library = compileSources(device, *sources, failure);
            if (!failure && hasRequiredFunctions(library))
                return library;
            shaderLog().logf(platform::LogLevel::error, "shader directory %s not used: %s",
                             directory->c_str(), failure ? failure->c_str() : "a function is missing");
        } else {
            shaderLog().logf(platform::LogLevel::info,
                             "shader directory %s lacks a function; using built-in sources",
                             directory->c_str());
        }
    }
    std::optional<std::string> failure;
    MetalShaderLibrary library = compileSources(device, embedded, failure);
    if (failure)
        return MetalError::shaderCompilationFailed(*failure);
    if (!hasRequiredFunctions(library)) {
        std::string names;
        for (std::string_view name : requiredShaderFunctions)
            names += (names.empty() ? "" : ", ") + std::string(name);
        return MetalError::shaderFunctionMissing(names);
    }
    return library;
}

} // namespace kestrovan
