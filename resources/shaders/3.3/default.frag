#version 330
uniform vec4 diffuseColor;

layout(location = 0) out vec4 fragColor;

void main()
{
    fragColor = diffuseColor;
}
