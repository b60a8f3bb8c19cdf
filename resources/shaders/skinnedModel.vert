// Skinned models: each vertex is moved by up to four bones, weighted, before
// the model matrix places it. Drawn with model.frag.
const int MAX_BONES = 100;
const int MAX_BONE_INFLUENCE = 4;

in vec3 aPosition;
in vec3 aNormal;
in vec2 aTexCoords;
in ivec4 aBoneIds;
in vec4 aWeights;

uniform mat4 model;
uniform mat4 camera;
uniform mat4 projection;
uniform mat4 finalBonesMatrices[MAX_BONES];

out vec3 worldPosition;
out vec3 worldNormal;
out vec2 texCoords;

void main()
{
    mat4 skin = mat4(0.0);
    float total = 0.0;
    for (int i = 0; i < MAX_BONE_INFLUENCE; ++i) {
        int id = aBoneIds[i];
        if (id < 0 || id >= MAX_BONES)
            continue;
        skin += finalBonesMatrices[id] * aWeights[i];
        total += aWeights[i];
    }
    // A vertex no bone holds stays where the file put it; dropped influences
    // must not shrink the vertex towards the origin.
    skin = total > 0.0 ? skin / total : mat4(1.0);

    vec4 world = model * skin * vec4(aPosition, 1.0);
    worldPosition = world.xyz;
    worldNormal = transpose(inverse(mat3(model * skin))) * aNormal;
    texCoords = aTexCoords;
    gl_Position = projection * camera * world;
}
