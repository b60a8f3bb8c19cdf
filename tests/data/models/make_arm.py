#!/usr/bin/env python3
"""Writes arm.gltf, the project's two-bone test arm (glTF 2.0, one embedded buffer).

The arm is a flat strip in the z = 0 plane, 0.4 wide, from y = 0 to y = 2:
rows at y = 0 and y = 1 follow the joint "upper" (at the origin), the row at
y = 2 follows "lower" (at (0, 1, 0)). The one animation turns "lower" about +z
by 0, 90 and 0 degrees at 0, 1 and 2 seconds, and scales the joint-less child
node "hand" (at (0, 1, 0) below "lower") from 1 to 2 between 0 and 2 seconds.
"""
import base64
import json
import math
import struct

chunks = []
views = []
accessors = []


def add(fmt, values, component, kind, target=None, bounds=False):
    data = b"".join(struct.pack("<" + fmt, *v) if isinstance(v, tuple) else struct.pack("<" + fmt, v)
                    for v in values)
    offset = sum(len(c) for c in chunks)
    chunks.append(data + b"\0" * (-len(data) % 4))
    view = {"buffer": 0, "byteOffset": offset, "byteLength": len(data)}
    if target:
        view["target"] = target
    views.append(view)
    accessor = {"bufferView": len(views) - 1, "componentType": component,
                "count": len(values), "type": kind}
    if bounds:
        columns = list(zip(*values)) if isinstance(values[0], tuple) else [values]
        accessor["min"] = [min(c) for c in columns]
        accessor["max"] = [max(c) for c in columns]
    accessors.append(accessor)
    return len(accessors) - 1


FLOAT, UBYTE, USHORT = 5126, 5121, 5123
ARRAY, ELEMENTS = 34962, 34963

rows = [0.0, 1.0, 2.0]
positions = [(x, y, 0.0) for y in rows for x in (-0.2, 0.2)]
normals = [(0.0, 0.0, 1.0)] * len(positions)
uvs = [((x + 0.2) / 0.4, y / 2.0) for x, y, _ in positions]
joints = [(0 if y < 1.5 else 1, 0, 0, 0) for _, y, _ in positions]
weights = [(1.0, 0.0, 0.0, 0.0)] * len(positions)
indices = []
for r in range(len(rows) - 1):
    a, b, c, d = 2 * r, 2 * r + 1, 2 * r + 3, 2 * r + 2
    indices += [a, b, c, a, c, d]

identity = (1.0, 0, 0, 0, 0, 1.0, 0, 0, 0, 0, 1.0, 0, 0, 0, 0, 1.0)
down_one = (1.0, 0, 0, 0, 0, 1.0, 0, 0, 0, 0, 1.0, 0, 0, -1.0, 0, 1.0)  # column-major T(0, -1, 0)

s = math.sin(math.radians(45.0))
turn_times = [0.0, 1.0, 2.0]
turns = [(0.0, 0.0, 0.0, 1.0), (0.0, 0.0, s, s), (0.0, 0.0, 0.0, 1.0)]
scale_times = [0.0, 2.0]
scales = [(1.0, 1.0, 1.0), (2.0, 2.0, 2.0)]

position = add("3f", positions, FLOAT, "VEC3", ARRAY, bounds=True)
normal = add("3f", normals, FLOAT, "VEC3", ARRAY)
uv = add("2f", uvs, FLOAT, "VEC2", ARRAY)
joint = add("4B", joints, UBYTE, "VEC4", ARRAY)
weight = add("4f", weights, FLOAT, "VEC4", ARRAY)
index = add("H", indices, USHORT, "SCALAR", ELEMENTS)
inverse_bind = add("16f", [identity, down_one], FLOAT, "MAT4")
turn_time = add("f", turn_times, FLOAT, "SCALAR", bounds=True)
turn = add("4f", turns, FLOAT, "VEC4")
scale_time = add("f", scale_times, FLOAT, "SCALAR", bounds=True)
scale = add("3f", scales, FLOAT, "VEC3")

buffer = b"".join(chunks)
gltf = {
    "asset": {"version": "2.0", "generator": "Velmorin make_arm.py"},
    "scene": 0,
    "scenes": [{"nodes": [0, 1]}],
    "nodes": [
        {"name": "Arm", "mesh": 0, "skin": 0},
        {"name": "upper", "children": [2]},
        {"name": "lower", "translation": [0.0, 1.0, 0.0], "children": [3]},
        {"name": "hand", "translation": [0.0, 1.0, 0.0]},
    ],
    "meshes": [{"name": "ArmMesh", "primitives": [{
        "attributes": {"POSITION": position, "NORMAL": normal, "TEXCOORD_0": uv,
                       "JOINTS_0": joint, "WEIGHTS_0": weight},
        "indices": index, "material": 0}]}],
    "materials": [{"name": "ArmGreen",
                   "pbrMetallicRoughness": {"baseColorFactor": [0.1, 0.8, 0.3, 1.0]}}],
    "skins": [{"joints": [1, 2], "inverseBindMatrices": inverse_bind, "skeleton": 1}],
    "animations": [{"name": "Bend",
                    "samplers": [{"input": turn_time, "output": turn, "interpolation": "LINEAR"},
                                 {"input": scale_time, "output": scale, "interpolation": "LINEAR"}],
                    "channels": [{"sampler": 0, "target": {"node": 2, "path": "rotation"}},
                                 {"sampler": 1, "target": {"node": 3, "path": "scale"}}]}],
    "buffers": [{"byteLength": len(buffer),
                 "uri": "data:application/octet-stream;base64," + base64.b64encode(buffer).decode()}],
    "bufferViews": views,
    "accessors": accessors,
}
with open("arm.gltf", "w") as out:
    json.dump(gltf, out, indent=1)
    out.write("\n")
