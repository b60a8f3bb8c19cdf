// Textured geometry, unlit (the splash logo).
in vec3 aPosition;
in vec2 aTexCoords;

uniform mat4 model;
uniform mat4 camera;
uniform mat4 projection;

out vec2 texCoords;

void main()
{
    texCoords = aTexCoords;
    gl_Position = projection * camera * model * vec4(aPosition, 1.0);
}
