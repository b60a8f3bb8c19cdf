#version 330
// Textured geometry, unlit (the splash logo).
layout(location = 0) in vec3 aPosition;
layout(location = 2) in vec2 aTexCoords;

uniform mat4 model;
uniform mat4 camera;
uniform mat4 projection;

out vec2 texCoords;

void main()
{
    texCoords = aTexCoords;
    gl_Position = projection * camera * model * vec4(aPosition, 1.0);
}
