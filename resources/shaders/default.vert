// Plain geometry in one flat colour: positions only.
in vec3 aPosition;

uniform mat4 model;
uniform mat4 camera;
uniform mat4 projection;

void main()
{
    gl_Position = projection * camera * model * vec4(aPosition, 1.0);
}
