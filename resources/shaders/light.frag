// Phong lighting of the object's colour by one point light. Geometry without
// normals (wire boxes, lines) and objects that never received a light show
// their colour unlit.
struct Light {
    vec3 position;
    vec3 ambient;
    vec3 diffuse;
    vec3 specular;
};

uniform Light light;
uniform vec3 cameraPosition;
uniform vec4 diffuseColor;

in vec3 worldPosition;
in vec3 worldNormal;

out vec4 fragColor;

const float shininess = 32.0;

bool lightUsable()
{
    vec3 terms = light.ambient + light.diffuse + light.specular;
    return !any(isnan(terms)) && !any(isnan(light.position)) && dot(terms, terms) > 0.0;
}

void main()
{
    float normalLength = length(worldNormal);
    if (normalLength < 1e-6 || !lightUsable()) {
        fragColor = diffuseColor;
        return;
    }
    vec3 n = worldNormal / normalLength;
    vec3 toLight = normalize(light.position - worldPosition);
    vec3 toEye = normalize(cameraPosition - worldPosition);
    vec3 ambient = light.ambient * diffuseColor.rgb;
    vec3 diffuse = light.diffuse * max(dot(n, toLight), 0.0) * diffuseColor.rgb;
    vec3 halfway = normalize(toLight + toEye);
    vec3 specular = light.specular * pow(max(dot(n, halfway), 0.0), shininess) * 0.5;
    fragColor = vec4(ambient + diffuse + specular, diffuseColor.a);
}
