#version 330
uniform vec3 backgroundColor;

layout(location = 0) out vec4 fragColor;

void main()
{
    fragColor = vec4(backgroundColor, 1.0);
}
