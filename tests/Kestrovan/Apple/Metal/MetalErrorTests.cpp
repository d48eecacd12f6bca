// The renderer's failures describe themselves with fixed texts naming no particular GPU API.

#include "Kestrovan/Apple/Metal/MetalError.h"

#include <gtest/gtest.h>

namespace kestrovan {
namespace {

TEST(MetalErrorTests, EveryCaseDescribesItselfWithItsText)
{
    const struct
    {
        MetalError error;
        MetalError::Case kind;
        const char* description;
    } cases[] = {
        {MetalError::shaderLibraryLoadFailed("x"), MetalError::Case::shaderLibraryLoadFailed,
         "Failed to load the GPU shader library: x"},
        {MetalError::shaderFunctionMissing("terminal_text_vertex"), MetalError::Case::shaderFunctionMissing,
         "GPU shader library missing required function: terminal_text_vertex"},
        {MetalError::shaderSourceMissing("y"), MetalError::Case::shaderSourceMissing,
         "Failed to load GPU shader source: y"},
        {MetalError::shaderCompilationFailed("0:1: error"), MetalError::Case::shaderCompilationFailed,
         "Failed to compile GPU shader source: 0:1: error"},
        {MetalError::pipelineCreationFailed("text/color/cell"), MetalError::Case::pipelineCreationFailed,
         "Failed to create GPU pipeline: text/color/cell"},
        {MetalError::metalKitUnavailable, MetalError::Case::metalKitUnavailable,
         "GPU drawing is unavailable in this toolkit."},
        {MetalError::deviceUnavailable, MetalError::Case::deviceUnavailable, "No GPU device is available."},
        {MetalError::commandQueueUnavailable, MetalError::Case::commandQueueUnavailable,
         "Failed to create the GPU command queue."},
        {MetalError::atlasUnavailable, MetalError::Case::atlasUnavailable,
         "Failed to create the glyph atlas."},
        {MetalError::shaderLibraryMissing, MetalError::Case::shaderLibraryMissing,
         "Failed to locate a GPU shader library in the application's resources."},
        {MetalError::samplerUnavailable, MetalError::Case::samplerUnavailable,
         "Failed to create GPU sampler state."},
        {MetalError::rendererBusy, MetalError::Case::rendererBusy,
         "The GPU renderer did not become idle before teardown."},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.error.kind(), c.kind) << c.description;
        EXPECT_EQ(c.error.description(), c.description);
    }
    // Errors compare by case and text.
    EXPECT_EQ(MetalError::shaderSourceMissing("a"), MetalError::shaderSourceMissing("a"));
    EXPECT_NE(MetalError::shaderSourceMissing("a"), MetalError::shaderSourceMissing("b"));
    EXPECT_NE(MetalError::shaderSourceMissing(""), MetalError::shaderLibraryLoadFailed(""));
}

} // namespace
} // namespace kestrovan
