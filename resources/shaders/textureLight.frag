// The texture lit by one point light. The picture itself is the colour: the
// object's colour only supplies the opacity, so a monitor face keeps showing
// its picture whatever colour state the control is in.
struct Light {
    vec3 position;
    vec3 ambient;
    vec3 diffuse;
    vec3 specular;
};

uniform Light light;
uniform vec3 cameraPosition;
uniform vec4 diffuseColor;
uniform sampler2D image;

in vec3 worldPosition;
in vec3 worldNormal;
in vec2 texCoords;

out vec4 fragColor;

const float shininess = 16.0;

bool lightUsable()
{
    vec3 terms = light.ambient + light.diffuse + light.specular;
    return !any(isnan(terms)) && !any(isnan(light.position)) && dot(terms, terms) > 0.0;
}

void main()
{
    vec3 base = texture(image, texCoords).rgb;
    float alpha = isnan(diffuseColor.a) ? 1.0 : diffuseColor.a;
    float normalLength = length(worldNormal);
    if (normalLength < 1e-6 || !lightUsable()) {
        fragColor = vec4(base, alpha);
        return;
    }
    vec3 n = worldNormal / normalLength;
    vec3 toLight = normalize(light.position - worldPosition);
    vec3 toEye = normalize(cameraPosition - worldPosition);
    vec3 ambient = light.ambient * base;
    vec3 diffuse = light.diffuse * max(dot(n, toLight), 0.0) * base;
    vec3 halfway = normalize(toLight + toEye);
    vec3 specular = light.specular * pow(max(dot(n, halfway), 0.0), shininess) * 0.25;
    fragColor = vec4(ambient + diffuse + specular, alpha);
}
