// Square points cut to a disc with a soft rim.
uniform vec3 backgroundColor;

out vec4 fragColor;

void main()
{
    float radius = length(gl_PointCoord - vec2(0.5)) * 2.0;
    if (radius > 1.0) {
        discard;
    }
    fragColor = vec4(backgroundColor, 1.0 - smoothstep(0.75, 1.0, radius));
}
