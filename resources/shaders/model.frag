// Loaded models: the material colour times the first diffuse texture (when the
// mesh has one), lit by one point light when the object has a usable light.
struct Light {
    vec3 position;
    vec3 ambient;
    vec3 diffuse;
    vec3 specular;
};

uniform Light light;
uniform vec3 cameraPosition;
uniform vec4 diffuseColor;
uniform sampler2D texture_diffuse1;

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
    // A mesh without a picture is drawn with a white one: the colour alone.
    vec4 base = diffuseColor * texture(texture_diffuse1, texCoords);
    float normalLength = length(worldNormal);
    if (normalLength < 1e-6 || !lightUsable()) {
        fragColor = base;
        return;
    }
    vec3 n = worldNormal / normalLength;
    vec3 toLight = normalize(light.position - worldPosition);
    vec3 toEye = normalize(cameraPosition - worldPosition);
    vec3 ambient = light.ambient * base.rgb;
    vec3 diffuse = light.diffuse * max(dot(n, toLight), 0.0) * base.rgb;
    vec3 halfway = normalize(toLight + toEye);
    vec3 specular = light.specular * pow(max(dot(n, halfway), 0.0), shininess) * 0.25;
    fragColor = vec4(ambient + diffuse + specular, base.a);
}
