// Textured, lit boxes (the monitor faces): position, normal, texture coordinates.
in vec3 aPosition;
in vec3 aNormal;
in vec2 aTexCoords;

uniform mat4 model;
uniform mat4 camera;
uniform mat4 projection;

out vec3 worldPosition;
out vec3 worldNormal;
out vec2 texCoords;

void main()
{
    vec4 world = model * vec4(aPosition, 1.0);
    worldPosition = world.xyz;
    worldNormal = transpose(inverse(mat3(model))) * aNormal;
    texCoords = aTexCoords;
    gl_Position = projection * camera * world;
}
