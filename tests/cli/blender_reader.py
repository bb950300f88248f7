# What Blender sees of our files, run inside Blender in background mode:
#   blender -b --factory-startup --python blender_reader.py -- REPORT.json obj FILE.obj
#   blender -b --factory-startup --python blender_reader.py -- REPORT.json cache REST.obj CACHE FORMAT START FRAMES
# "obj" imports an OBJ file and reports its points, polygons, texture
# coordinates, materials (and whether their images were found) and the
# normal of every polygon corner. "cache" imports the rest mesh, plays the
# point cache (PC2 or MDD) on it with the Mesh Cache modifier from Frame
# Start START, and reports the evaluated points at each scene frame of
# FRAMES (comma separated). Both import with Blender's axes left as they
# are (forward Y, up Z), so that coordinates compare one for one.
import json
import os
import sys

import bpy

argv = sys.argv[sys.argv.index("--") + 1:]
report_path, mode, obj_path = argv[0], argv[1], argv[2]
for existing in list(bpy.data.objects):
    bpy.data.objects.remove(existing)
bpy.ops.wm.obj_import(filepath=obj_path, forward_axis="Y", up_axis="Z")
obj = bpy.context.selected_objects[0]
mesh = obj.data
report = {}
if mode == "obj":
    mesh.calc_normals_split()
    report["points"] = [list(v.co) for v in mesh.vertices]
    report["polygons"] = [list(p.vertices) for p in mesh.polygons]
    report["uv_loops"] = len(mesh.uv_layers[0].data) if mesh.uv_layers else 0
    report["corner_normals"] = [list(loop.normal) for loop in mesh.loops]
    report["polygon_materials"] = [p.material_index for p in mesh.polygons]
    materials = []
    for material in mesh.materials:
        images = [bpy.path.abspath(node.image.filepath) for node in material.node_tree.nodes
                  if node.type == "TEX_IMAGE" and node.image] if material.node_tree else []
        materials.append({"name": material.name, "images_found": [os.path.isfile(p) for p in images]})
    report["materials"] = materials
else:
    cache_path, cache_format, frame_start = argv[3], argv[4], float(argv[5])
    modifier = obj.modifiers.new("cache", "MESH_CACHE")
    modifier.cache_format = cache_format
    modifier.filepath = cache_path
    modifier.frame_start = frame_start
    frames = {}
    for frame in (int(f) for f in argv[6].split(",")):
        bpy.context.scene.frame_set(frame)
        evaluated = obj.evaluated_get(bpy.context.evaluated_depsgraph_get())
        frames[str(frame)] = [list(v.co) for v in evaluated.data.vertices]
    report["frames"] = frames
with open(report_path, "w") as out:
    json.dump(report, out)
