// The raw-GL peer of the GPU renderer's benchmarks: the renderer's own shader sources compiled and
// linked with plain GL calls, and instanced cell records read through a vertex array, so that the
// peer draws exactly what the renderer draws without its layers.
#pragma once

#include "Kestrovan/Apple/Metal/MetalShaderLibrary.h"
#include "Kestrovan/Apple/Metal/MetalVertexTypes.h"

#include <epoxy/gl.h>
#include <string>

namespace bench::rawgl {

inline GLuint compile(GLenum stage, const std::string& source)
{
    const GLuint shader = glCreateShader(stage);
    const char* text = source.c_str();
    glShaderSource(shader, 1, &text, nullptr);
    glCompileShader(shader);
    return shader;
}

/// The program of two of the renderer's built-in functions.
inline GLuint program(const char* vertex, const char* fragment)
{
    const std::string prelude = kestrovan::shaderPrelude(false);
    const GLuint made = glCreateProgram();
    const GLuint v = compile(GL_VERTEX_SHADER, prelude + kestrovan::builtInShaderSources().at(vertex));
    const GLuint f = compile(GL_FRAGMENT_SHADER, prelude + kestrovan::builtInShaderSources().at(fragment));
    glAttachShader(made, v);
    glAttachShader(made, f);
    glLinkProgram(made);
    glDeleteShader(v);
    glDeleteShader(f);
    return made;
}

/// One attribute of an instanced record.
inline void attribute(GLuint location, int components, size_t stride, size_t offset)
{
    glEnableVertexAttribArray(location);
    glVertexAttribPointer(location, components, GL_FLOAT, GL_FALSE, GLsizei(stride),
                          reinterpret_cast<const void*>(offset));
    glVertexAttribDivisor(location, 1);
}

/// The attributes of the bound buffer's `ColorCell` records.
inline void colorCellAttributes()
{
    attribute(0, 2, sizeof(kestrovan::ColorCell), 0);
    attribute(1, 2, sizeof(kestrovan::ColorCell), 8);
    attribute(2, 4, sizeof(kestrovan::ColorCell), 16);
    glDisableVertexAttribArray(3);
    glDisableVertexAttribArray(4);
}

/// The attributes of the bound buffer's `TextCell` records.
inline void textCellAttributes()
{
    for (GLuint location = 0; location < 5; ++location)
        attribute(location, location == 4 ? 4 : 2, sizeof(kestrovan::TextCell), location * 8);
}

/// A sampler filtering linearly, as the renderer's.
inline GLuint linearSampler()
{
    GLuint sampler = 0;
    glGenSamplers(1, &sampler);
    glSamplerParameteri(sampler, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glSamplerParameteri(sampler, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    return sampler;
}

/// Waits for the GPU to finish what was drawn, as a frame that waits after it commits.
inline void finishFrame()
{
    GLsync fence = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
    glClientWaitSync(fence, GL_SYNC_FLUSH_COMMANDS_BIT, 10'000'000'000);
    glDeleteSync(fence);
}

} // namespace bench::rawgl
