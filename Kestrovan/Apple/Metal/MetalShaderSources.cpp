// The GLSL sources built into the renderer, one per shader function.
//
// Every vertex stage turns drawable pixels (origin at the bottom left, y up) into clip space with
// x = x / width * 2 - 1 and y = y / height * 2 - 1: GL's clip space already has y up, so there is
// no flip. A cell record is an instance of six vertices; the vertex index picks its corner from
// `kQuadCorners`, the lower-left triangle first, then the upper-right one. The fragment stages
// write premultiplied colours for the textured pipelines and the straight colour for the flat
// ones; nothing converts between colour spaces.

#include "Kestrovan/Apple/Metal/MetalShaderLibrary.h"

namespace kestrovan {

namespace {

constexpr const char* textVertex = R"(
layout(location = 0) in vec2 position;
layout(location = 1) in vec2 texCoord;
layout(location = 2) in vec4 color;
uniform vec2 viewport;
out vec2 fragmentTexCoord;
out vec4 fragmentColor;
void main()
{
    gl_Position = vec4(position / viewport * 2.0 - 1.0, 0.0, 1.0);
    fragmentTexCoord = texCoord;
    fragmentColor = color;
}
)";

constexpr const char* cellTextVertex = R"(
layout(location = 0) in vec2 cellPosition;
layout(location = 1) in vec2 cellSize;
layout(location = 2) in vec2 cellTexOrigin;
layout(location = 3) in vec2 cellTexSize;
layout(location = 4) in vec4 cellColor;
uniform vec2 viewport;
out vec2 fragmentTexCoord;
out vec4 fragmentColor;
const vec2 kQuadCorners[6] = vec2[6](vec2(0.0, 0.0), vec2(1.0, 0.0), vec2(0.0, 1.0),
                                     vec2(1.0, 0.0), vec2(1.0, 1.0), vec2(0.0, 1.0));
void main()
{
    vec2 corner = kQuadCorners[gl_VertexID % 6];
    vec2 position = cellPosition + cellSize * corner;
    gl_Position = vec4(position / viewport * 2.0 - 1.0, 0.0, 1.0);
    fragmentTexCoord = cellTexOrigin + cellTexSize * corner;
    fragmentColor = cellColor;
}
)";

constexpr const char* textFragment = R"(
uniform sampler2D atlas;
in vec2 fragmentTexCoord;
in vec4 fragmentColor;
layout(location = 0) out vec4 outColor;
void main()
{
    vec4 texel = texture(atlas, fragmentTexCoord);
    outColor = vec4(texel.rgb * fragmentColor.rgb, texel.a * fragmentColor.a);
}
)";

constexpr const char* textFragmentGray = R"(
uniform sampler2D atlas;
in vec2 fragmentTexCoord;
in vec4 fragmentColor;
layout(location = 0) out vec4 outColor;
void main()
{
    float coverage = texture(atlas, fragmentTexCoord).r;
    outColor = vec4(fragmentColor.rgb * coverage, fragmentColor.a * coverage);
}
)";

constexpr const char* colorVertex = R"(
layout(location = 0) in vec2 position;
layout(location = 1) in vec4 color;
uniform vec2 viewport;
out vec4 fragmentColor;
void main()
{
    gl_Position = vec4(position / viewport * 2.0 - 1.0, 0.0, 1.0);
    fragmentColor = color;
}
)";

constexpr const char* cellColorVertex = R"(
layout(location = 0) in vec2 cellPosition;
layout(location = 1) in vec2 cellSize;
layout(location = 2) in vec4 cellColor;
uniform vec2 viewport;
out vec4 fragmentColor;
const vec2 kQuadCorners[6] = vec2[6](vec2(0.0, 0.0), vec2(1.0, 0.0), vec2(0.0, 1.0),
                                     vec2(1.0, 0.0), vec2(1.0, 1.0), vec2(0.0, 1.0));
void main()
{
    vec2 position = cellPosition + cellSize * kQuadCorners[gl_VertexID % 6];
    gl_Position = vec4(position / viewport * 2.0 - 1.0, 0.0, 1.0);
    fragmentColor = cellColor;
}
)";

constexpr const char* colorFragment = R"(
in vec4 fragmentColor;
layout(location = 0) out vec4 outColor;
void main()
{
    outColor = fragmentColor;
}
)";

} // namespace

const MetalShaderSources& builtInShaderSources()
{
    static const MetalShaderSources sources{
        {"terminal_text_vertex", textVertex},       {"terminal_cell_text_vertex", cellTextVertex},
        {"terminal_text_fragment", textFragment},   {"terminal_text_fragment_gray", textFragmentGray},
        {"terminal_color_vertex", colorVertex},     {"terminal_cell_color_vertex", cellColorVertex},
        {"terminal_color_fragment", colorFragment},
    };
    return sources;
}

} // namespace kestrovan
