// Round overlay points (the circles of a Delaunay triangulation).
in vec3 aPosition;

uniform mat4 model;
uniform mat4 camera;
uniform mat4 projection;

const float pointSize = 7.0;

void main()
{
    gl_PointSize = pointSize;
    gl_Position = projection * camera * model * vec4(aPosition, 1.0);
}
