"""Posed cages in other axes than the bound cage: deform warns of a first pose
turned, mirrored or moved from the bound cage as the command does, and
pose_axis converts every pose given, exactly, before deforming."""

import numpy as np
import pytest

import ostrand
from test_checks import command, command_warnings, told, write_obj

NAMES = ("x90, x-90, x180, y90, y-90, y180, z90, z-90, z180, mirror-x, mirror-y, mirror-z, y-up-to-z-up, "
         "z-up-to-y-up")


def y_up_to_z_up(points):
    """Turned 90 degrees about x: (x, y, z) to (x, -z, y), as an exporter turns a scene."""
    return points[..., [0, 2, 1]] * [1.0, -1.0, 1.0]


def test_a_turned_pose_is_named_and_pose_axis_turns_every_pose_back_exactly(example, example_binding):
    twist, bend = example.poses["cage_twist"], example.poses["cage_bend"]
    lines, turned = told(lambda: example_binding.deform(y_up_to_z_up(twist)))
    assert len(lines) == 1
    assert lines[0].startswith("posed_cage_points is ")
    # The twist is no rigid motion of the bound cage: a pose of it, turned.
    assert lines[0].endswith(" of the cage's size from the bound cage; it is a pose of the bound cage turned 90° about "
                             "x, as an up-axis conversion between Y-up and Z-up makes: pose_axis='x-90' turns it back")
    upright = example_binding.deform(twist)
    assert not np.allclose(turned, upright)

    lines, back = told(lambda: example_binding.deform(y_up_to_z_up(twist), pose_axis="x-90"))
    assert lines == []
    assert back.tobytes() == upright.tobytes()
    # Many frames: each converted, the first checked.
    both = np.stack([y_up_to_z_up(twist), y_up_to_z_up(bend)])
    lines, back = told(lambda: example_binding.deform(both, pose_axis="z-up-to-y-up"))
    assert lines == []
    assert back.tobytes() == example_binding.deform(np.stack([twist, bend])).tobytes()
    lines, _ = told(lambda: example_binding.deform(both))
    assert len(lines) == 1 and lines[0].startswith("posed_cage_points[0] is ")
    # Poses near the bound cage are not warned of.
    assert told(lambda: example_binding.deform(np.stack([example.cage, twist, bend])))[0] == []


def test_the_warning_is_the_commands(example, tmp_path):
    status, _, stderr = command("bind", "--cage", write_obj(tmp_path / "cage.obj", example.cage,
                                example.faces), "--target", write_obj(tmp_path / "target.obj", example.target,
                                example.target_faces), "-o", tmp_path / "bound")
    assert status == 0, stderr
    mirrored = example.cage * [1.0, 1.0, -1.0] + [0.0, 3.0, 0.0]
    pose = write_obj(tmp_path / "mirrored.obj", mirrored, example.faces)
    status, _, stderr = command("deform", "--scene", tmp_path / "bound" / "scene.json", pose, "-o", tmp_path / "out")
    assert status == 0, stderr
    [line] = [line for line in command_warnings(stderr) if "from the bound cage" in line]
    assert "mirrored in z (z negated), as a handedness conversion makes, and moved by (0, 3, 0)" in line
    _, loaded = told(lambda: ostrand.load(tmp_path / "bound" / "weights.cw", example.cage, example.faces,
                                          example.target))
    lines, _ = told(lambda: loaded.deform(mirrored))
    assert [line for line in lines if "from the bound cage" in line] == [line.replace(str(pose), "posed_cage_points").replace("--pose-axis mirror-z",
                                                                           "pose_axis='mirror-z'")]


def test_a_bad_name_is_refused_naming_the_valid_ones(example, example_binding):
    twist = example.poses["cage_twist"]
    for bad in ("x45", "", "X90"):
        with pytest.raises(ValueError) as refused:
            example_binding.deform(twist, pose_axis=bad)
        assert str(refused.value) == f"pose_axis: {bad!r} is not one of {NAMES}"
    with pytest.raises(TypeError):
        example_binding.deform(twist, pose_axis=90)
    assert told(lambda: example_binding.deform(twist, pose_axis=None))[0] == []
