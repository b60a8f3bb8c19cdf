// The sky cube around the camera; the view comes without its translation.
in vec3 aPosition;

uniform mat4 camera;
uniform mat4 projection;

out vec3 direction;

void main()
{
    direction = aPosition;
    vec4 position = projection * camera * vec4(aPosition, 1.0);
    // z = w puts the sky at the far end of the depth range, behind everything.
    gl_Position = position.xyww;
}
