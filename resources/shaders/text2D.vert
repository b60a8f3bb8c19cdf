// One glyph quad: (x, y) in glyph pixels, (u, v) in the glyph's own texture.
in vec4 aVertex;

uniform mat4 model;
uniform mat4 camera;
uniform mat4 projection;

out vec2 texCoords;

void main()
{
    texCoords = aVertex.zw;
    gl_Position = projection * camera * model * vec4(aVertex.xy, 0.0, 1.0);
}
