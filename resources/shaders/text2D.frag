// The glyph texture holds coverage in its red channel; it becomes the opacity.
uniform sampler2D text;
uniform vec4 diffuseColor;

in vec2 texCoords;

out vec4 fragColor;

void main()
{
    float coverage = texture(text, texCoords).r;
    fragColor = vec4(diffuseColor.rgb, diffuseColor.a * coverage);
}
