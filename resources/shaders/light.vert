// Lit boxes, panels and 3D glyphs: position, normal (texture coordinates unused).
in vec3 aPosition;
in vec3 aNormal;

uniform mat4 model;
uniform mat4 camera;
uniform mat4 projection;

out vec3 worldPosition;
out vec3 worldNormal;

void main()
{
    vec4 world = model * vec4(aPosition, 1.0);
    worldPosition = world.xyz;
    worldNormal = transpose(inverse(mat3(model))) * aNormal;
    gl_Position = projection * camera * world;
}
