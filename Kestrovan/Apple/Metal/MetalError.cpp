#include "Kestrovan/Apple/Metal/MetalError.h"

namespace kestrovan {

std::string MetalError::description() const
{
    switch (kind_) {
    case Case::shaderLibraryLoadFailed:
        return "Failed to load the GPU shader library: " + payload_;
    case Case::shaderFunctionMissing:
        return "GPU shader library missing required function: " + payload_;
    case Case::shaderSourceMissing:
        return "Failed to load GPU shader source: " + payload_;
    case Case::shaderCompilationFailed:
        return "Failed to compile GPU shader source: " + payload_;
    case Case::pipelineCreationFailed:
        return "Failed to create GPU pipeline: " + payload_;
    case Case::metalKitUnavailable:
        return "GPU drawing is unavailable in this toolkit.";
    case Case::deviceUnavailable:
        return "No GPU device is available.";
    case Case::commandQueueUnavailable:
        return "Failed to create the GPU command queue.";
    case Case::atlasUnavailable:
        return "Failed to create the glyph atlas.";
    case Case::shaderLibraryMissing:
        return "Failed to locate a GPU shader library in the application's resources.";
    case Case::samplerUnavailable:
        return "Failed to create GPU sampler state.";
    case Case::rendererBusy:
        return "The GPU renderer did not become idle before teardown.";
    }
    return {};
}

} // namespace kestrovan
