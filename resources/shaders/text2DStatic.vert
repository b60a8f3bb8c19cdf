// Batched glyph quads: corners already placed in the world, atlas coordinates.
in vec4 aPosition;
in vec2 aAtlasCoords;

uniform mat4 model;
uniform mat4 camera;
uniform mat4 projection;

out vec2 texCoords;

void main()
{
    texCoords = aAtlasCoords;
    gl_Position = projection * camera * model * aPosition;
}
