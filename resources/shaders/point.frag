uniform vec3 backgroundColor;

out vec4 fragColor;

void main()
{
    fragColor = vec4(backgroundColor, 1.0);
}
