// The picture as it is; the control's colour only supplies the opacity.
uniform sampler2D image;
uniform vec4 diffuseColor;

in vec2 texCoords;

out vec4 fragColor;

void main()
{
    float alpha = isnan(diffuseColor.a) ? 1.0 : diffuseColor.a;
    fragColor = vec4(texture(image, texCoords).rgb, alpha);
}
