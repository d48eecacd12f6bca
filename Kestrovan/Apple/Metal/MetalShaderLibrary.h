// The renderer's seven shader functions: their GLSL sources and their compilation.
//
// Each function is one GLSL source named after it (four vertex stages, three fragment stages),
// compiled at run time behind a version line that suits the context: "#version 330 core" on
// desktop GL, "#version 300 es" with high float precision on GL ES. Sources come from a shader
// directory given for development (`KESTROVAN_SHADER_DIR`, one `<name>.glsl` file a function),
// used only when it holds all seven and they all compile, and otherwise from the sources built
// into the library.
#pragma once

#include "Kestrovan/Apple/Metal/MetalError.h"
#include "Platform/GPU/Device.h"

#include <array>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace kestrovan {

/// The seven function names, in the order a library is checked for them.
inline constexpr std::array<std::string_view, 7> requiredShaderFunctions{
    "terminal_text_vertex",        "terminal_cell_text_vertex", "terminal_text_fragment",
    "terminal_text_fragment_gray", "terminal_color_vertex",     "terminal_cell_color_vertex",
    "terminal_color_fragment",
};

/// GLSL sources by function name, without a version line.
using MetalShaderSources = std::map<std::string, std::string, std::less<>>;

/// The sources built into the library.
const MetalShaderSources& builtInShaderSources();

/// The sources of a shader directory: one `<name>.glsl` file for each of the seven functions;
/// none unless all seven can be read.
std::optional<MetalShaderSources> loadShaderDirectory(const std::string& directory);

/// The shader directory named by `KESTROVAN_SHADER_DIR` (read once); none when it is unset or
/// empty.
std::optional<std::string> environmentShaderDirectory();

/// The version line (and precision) put before every source for a context.
std::string shaderPrelude(bool isES);

/// Compiled functions by name.
struct MetalShaderLibrary
{
    std::map<std::string, std::shared_ptr<platform::gpu::Shader>, std::less<>> functions;

    /// The compiled function, or null.
    std::shared_ptr<platform::gpu::Shader> function(std::string_view name) const;
};

/// Chooses and compiles the library: the directory's sources when given, complete and compiling,
/// otherwise `embedded`. A failure to compile an embedded source is `shaderCompilationFailed`
/// with the function's name and the compiler's log; embedded sources lacking any function are
/// `shaderFunctionMissing` with all seven names joined by ", ". Needs the device's context current.
std::variant<MetalShaderLibrary, MetalError> makeShaderLibrary(platform::gpu::Device& device,
                                                               const MetalShaderSources& embedded,
                                                               const std::optional<std::string>& directory);

} // namespace kestrovan
