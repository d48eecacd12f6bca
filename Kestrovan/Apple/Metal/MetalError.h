// Why the GPU renderer could not be set up, switched or torn down.
//
// Twelve cases, five of which carry a text (a function name list, a compiler log). Each case has
// a fixed message naming no particular GPU API; `description()` is that message with the text
// appended, and is what the view logs or shows when it falls back to drawing on the CPU. The
// cases without a text are values (`MetalError::deviceUnavailable`), the others are made by the
// functions of the same name (`MetalError::shaderFunctionMissing(names)`).
#pragma once

#include <cstdint>
#include <string>

namespace kestrovan {

class MetalError
{
public:
    enum class Case : uint8_t
    {
        shaderLibraryLoadFailed,
        shaderFunctionMissing,
        shaderSourceMissing,
        shaderCompilationFailed,
        pipelineCreationFailed,
        metalKitUnavailable,
        deviceUnavailable,
        commandQueueUnavailable,
        atlasUnavailable,
        shaderLibraryMissing,
        samplerUnavailable,
        rendererBusy,
    };

    static MetalError shaderLibraryLoadFailed(std::string text)
    {
        return {Case::shaderLibraryLoadFailed, std::move(text)};
    }
    static MetalError shaderFunctionMissing(std::string text)
    {
        return {Case::shaderFunctionMissing, std::move(text)};
    }
    static MetalError shaderSourceMissing(std::string text)
    {
        return {Case::shaderSourceMissing, std::move(text)};
    }
    static MetalError shaderCompilationFailed(std::string text)
    {
        return {Case::shaderCompilationFailed, std::move(text)};
    }
    static MetalError pipelineCreationFailed(std::string text)
    {
        return {Case::pipelineCreationFailed, std::move(text)};
    }
    static const MetalError metalKitUnavailable;
    static const MetalError deviceUnavailable;
    static const MetalError commandQueueUnavailable;
    static const MetalError atlasUnavailable;
    static const MetalError shaderLibraryMissing;
    static const MetalError samplerUnavailable;
    static const MetalError rendererBusy;

    Case kind() const { return kind_; }
    /// The text a case carries; empty for the cases without one.
    const std::string& payload() const { return payload_; }
    /// The case's message, followed by its text.
    std::string description() const;

    bool operator==(const MetalError&) const = default;

private:
    MetalError(Case kind, std::string payload) : kind_(kind), payload_(std::move(payload)) {}

    Case kind_;
    std::string payload_;
};

inline const MetalError MetalError::metalKitUnavailable{Case::metalKitUnavailable, {}};
inline const MetalError MetalError::deviceUnavailable{Case::deviceUnavailable, {}};
inline const MetalError MetalError::commandQueueUnavailable{Case::commandQueueUnavailable, {}};
inline const MetalError MetalError::atlasUnavailable{Case::atlasUnavailable, {}};
inline const MetalError MetalError::shaderLibraryMissing{Case::shaderLibraryMissing, {}};
inline const MetalError MetalError::samplerUnavailable{Case::samplerUnavailable, {}};
inline const MetalError MetalError::rendererBusy{Case::rendererBusy, {}};

} // namespace kestrovan
