uniform sampler2D image;

in vec2 texCoords;

out vec4 fragColor;

void main()
{
    fragColor = vec4(texture(image, texCoords).rgb, 1.0);
}
