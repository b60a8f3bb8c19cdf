// Vertex attribute locations: the one list that the drawing code points its
// buffers at, that a program's link binds by name, and from which the build
// writes the layout lines of the #version 330 shaders. It needs no GL, so the
// shader generator can read it too.
#pragma once

#include <array>
#include <string_view>

enum class QvAttribute : unsigned {
    position = 0,
    normal = 1,
    atlasCoords = 1,  // batched 2D text has no normals: its atlas corner takes their place
    texCoords = 2,
    tangent = 3,
    bitangent = 4,
    boneIds = 5,
    boneWeights = 6,
};

constexpr unsigned qvLocation(QvAttribute attribute)
{
    return static_cast<unsigned>(attribute);
}

// A GLSL input name and the location it is given.
struct QvAttributeBinding {
    std::string_view name;
    QvAttribute attribute;
};

// Every vertex input name the shaders use.
inline constexpr std::array<QvAttributeBinding, 9> qvAttributeBindings = {{
    {"aPosition", QvAttribute::position},
    {"aVertex", QvAttribute::position},
    {"aNormal", QvAttribute::normal},
    {"aAtlasCoords", QvAttribute::atlasCoords},
    {"aTexCoords", QvAttribute::texCoords},
    {"aTangent", QvAttribute::tangent},
    {"aBitangent", QvAttribute::bitangent},
    {"aBoneIds", QvAttribute::boneIds},
    {"aWeights", QvAttribute::boneWeights},
}};
