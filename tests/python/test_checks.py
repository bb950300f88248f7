"""The checks around bind and load, from the same code as the command's: points
that get no weights are an error naming the likely cause (or kept where they
are), the command's warnings arrive as ostrand.OstrandWarning, strict makes
any of them an error, check_cage reports what `ostrand check` prints, and
weights that fit the given target badly are warned of when loaded."""

import os
import pickle
import subprocess
import warnings

import numpy as np
import pytest

import ostrand
from conftest import MODULE

QUAD = np.array([[-1, -1, 0], [1, -1, 0], [1, 1, 0], [-1, 1, 0]], dtype=float)
QUAD_FACES = [[0, 1, 2, 3]]
# Two points just above the quad, which bind to it; two far beside it, whose
# sample rays all miss it.
QUAD_TARGET = np.array([[0, 0, 0.5], [0.2, 0.1, 0.3], [50, 0, 0.5], [0, 60, 1]])


def write_obj(path, points, faces):
    with open(path, "w") as out:
        out.writelines("v %r %r %r\n" % tuple(p) for p in np.asarray(points, dtype=float))
        out.writelines("f " + " ".join(str(k + 1) for k in face) + "\n" for face in faces)
    return path


def command(*arguments):
    """Runs the ostrand command; returns its exit status, stdout and stderr."""
    result = subprocess.run([os.environ["OSTRAND_CLI"], "--module", str(MODULE), *map(str, arguments)],
                            capture_output=True, text=True)
    return result.returncode, result.stdout, result.stderr


def command_warnings(stderr):
    return [line[len("ostrand: warning: "):] for line in stderr.splitlines() if line.startswith("ostrand: warning: ")]


def told(call):
    """What call warns of, as lines, and what it returns."""
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        result = call()
    assert all(w.category is ostrand.OstrandWarning for w in caught)
    return [str(w.message) for w in caught], result


def open_cage(example):
    return example.cage, example.faces[:-1]


def small_cage(example):
    centre = example.cage.mean(axis=0)
    return centre + 0.7 * (example.cage - centre), example.faces


def test_error_and_warning_types_are_the_ones_callers_catch():
    assert issubclass(ostrand.OstrandWarning, UserWarning)
    assert issubclass(ostrand.OstrandError, ValueError)
    assert issubclass(ostrand.UnboundPointsError, ostrand.OstrandError)


def test_a_target_far_outside_the_cage_is_refused(example):
    far = example.target + [1000.0, 0.0, 0.0]
    with pytest.raises(ostrand.UnboundPointsError) as refused:
        ostrand.bind(example.cage, example.faces, far)
    assert str(refused.value) == (
        "target_points: 3138 of 3138 points got no weights: 1, 2, 3, 4, 5, ... (likely cause: 3138 points lie "
        "outside the cage); allow_unbound=True keeps them where they are")
    assert np.array_equal(refused.value.points, np.arange(3138))
    # Keeping them would keep every point: nothing bound is an error all the same.
    with pytest.raises(ostrand.UnboundPointsError, match="3138 of 3138 points got no weights") as refused:
        ostrand.bind(example.cage, example.faces, far, allow_unbound=True)
    assert "allow_unbound" not in str(refused.value)


def test_a_flat_cage_is_refused_naming_the_cause_as_the_command_does(tmp_path):
    with pytest.raises(ostrand.UnboundPointsError) as refused:
        ostrand.bind(QUAD, QUAD_FACES, QUAD_TARGET)
    assert refused.value.points.tolist() == [2, 3]
    write_obj(tmp_path / "quad.obj", QUAD, QUAD_FACES)
    write_obj(tmp_path / "t.obj", QUAD_TARGET, [[0, 1, 2], [1, 2, 3]])
    status, _, stderr = command("bind", "--cage", tmp_path / "quad.obj", "--target", tmp_path / "t.obj",
                                "-o", tmp_path / "out")
    assert status == 1
    message = stderr.strip().splitlines()[-1]
    assert message == (f"ostrand: {tmp_path / 't.obj'}: 2 of 4 points got no weights: 3, 4 (likely cause: the cage "
                       "is flat); --allow-unbound keeps them where they are")
    assert str(refused.value) == message.replace(f"ostrand: {tmp_path / 't.obj'}", "target_points").replace(
        "--allow-unbound", "allow_unbound=True")


def test_allow_unbound_keeps_those_points_where_they_are(tmp_path):
    lines, binding = told(lambda: ostrand.bind(QUAD, QUAD_FACES, QUAD_TARGET, allow_unbound=True))
    assert "2 of 4 points got no weights: 3, 4 (likely cause: the cage is flat); they are kept where they are" in lines
    assert binding.bound.tolist() == [True, True, False, False]
    assert np.isnan(binding.rest_error[2:]).all() and np.isfinite(binding.rest_error[:2]).all()
    raised = binding.deform(QUAD + [0.0, 0.0, 1.0])
    assert np.array_equal(raised[2:], QUAD_TARGET[2:])
    assert np.allclose(raised[:2, 2], 1.0, atol=1e-6)
    # Left out as setup weights leave points out: saved and read back with
    # them, or pickled, the weights deform alike.
    binding.save(tmp_path / "kept.cw")
    _, again = told(lambda: ostrand.load(tmp_path / "kept.cw", QUAD, QUAD_FACES, QUAD_TARGET,
                                         setup_weights=binding.bound.astype(float)))
    _, unpickled = told(lambda: pickle.loads(pickle.dumps(binding)))
    doubled = again.deform(QUAD * 2)
    assert np.array_equal(doubled[2:], QUAD_TARGET[2:])
    assert np.allclose(doubled, binding.deform(QUAD * 2), rtol=0, atol=1e-6)
    assert np.array_equal(unpickled.deform(QUAD * 2), doubled)


@pytest.mark.parametrize("make_cage", [open_cage, small_cage])
def test_warnings_are_the_commands(example, tmp_path, make_cage):
    cage, faces = make_cage(example)
    lines, binding = told(lambda: ostrand.bind(cage, faces, example.target))
    status, _, stderr = command("bind", "--cage", write_obj(tmp_path / "cage.obj", cage, faces),
                                "--target", write_obj(tmp_path / "target.obj", example.target, example.target_faces),
                                "-o", tmp_path / "out", "-q")
    assert status == 0, stderr
    theirs = command_warnings(stderr)
    # The cage's findings word for word; the rest-pose error the command
    # measures on the weights its file gives back (single precision).
    assert [line for line in lines if not line.startswith("rest-pose")] == \
        [line for line in theirs if not line.startswith("rest-pose")]
    rest = [line for line in lines if line.startswith("rest-pose error above 0.01 of the cage's size at ")]
    assert len(rest) == 1 and len([line for line in theirs if line.startswith("rest-pose")]) == 1
    above = np.flatnonzero(binding.rest_error / np.linalg.norm(cage.max(axis=0) - cage.min(axis=0)) > 0.01)
    assert rest[0].startswith(f"rest-pose error above 0.01 of the cage's size at {len(above)} points, largest ")
    # A higher threshold: no rest-pose warning.
    lines, _ = told(lambda: ostrand.bind(cage, faces, example.target, warn_rest_error=0.5))
    assert not any(line.startswith("rest-pose") for line in lines)


def test_strict_turns_any_warning_into_an_error_and_binds_nothing(example):
    cage, faces = open_cage(example)
    expected, _ = told(lambda: ostrand.bind(cage, faces, example.target))
    with warnings.catch_warnings():
        warnings.simplefilter("error")  # and nothing is warned of besides
        with pytest.raises(ostrand.OstrandError) as refused:
            ostrand.bind(cage, faces, example.target, strict=True)
        assert refused.value.warnings == expected
        assert str(refused.value) == f"strict: {len(expected)} warnings, so nothing is bound: " + " | ".join(expected)
        # A clean bind is no error, strict or not.
        assert ostrand.bind(example.cage, example.faces, example.target, strict=True).bound.all()


def test_bad_check_options_are_refused(example):
    for value in (-0.1, 1.5, float("nan")):
        with pytest.raises(ValueError, match="warn_rest_error"):
            ostrand.bind(example.cage, example.faces, example.target, warn_rest_error=value)
    with pytest.raises(ValueError, match="threads: 0"):
        ostrand.check_cage(example.cage, example.faces, threads=0)


def cages_to_check(example):
    flipped = [face[::-1] if i == 3 else face for i, face in enumerate(example.faces)]
    return {
        "clean with target": (example.cage, example.faces, example.target),
        "clean alone": (example.cage, example.faces, None),
        "open": (*open_cage(example), example.target),
        "flipped face": (example.cage, flipped, None),
        "small": (*small_cage(example), example.target),
        "flat": (QUAD, QUAD_FACES, QUAD_TARGET),
    }


def test_check_cage_prints_what_ostrand_check_prints(example, tmp_path):
    for name, (cage, faces, target) in cages_to_check(example).items():
        report = ostrand.check_cage(cage, faces, target)
        arguments = ["check", "--cage", write_obj(tmp_path / "cage.obj", cage, faces)]
        if target is not None:
            arguments += ["--target", write_obj(tmp_path / "target.obj", target, [[0, 1, 2]])]
        status, stdout, stderr = command(*arguments)
        assert status == 0, stderr
        assert str(report) + "\n" == stdout, name
        assert report.clean == name.startswith("clean")
        assert [finding.line for finding in report.findings] == ([] if report.clean else stdout.splitlines())


def test_check_cage_findings_for_a_program(example):
    report = ostrand.check_cage(*open_cage(example), example.target)
    assert [finding.kind for finding in report.findings] == ["boundary_edges"]
    edges = report.findings[0]
    assert edges.count == 4 and str(edges) == edges.line
    # The examples, from 0, are the edges the line names from 1.
    named = edges.line.split(": ")[-1].split(", ")
    assert [f"{a + 1}-{b + 1}" for a, b in edges.examples] == named
    assert report.outside.dtype == bool and report.outside.shape == (3138,) and not report.outside.any()
    assert report.likely_cause == "the cage is open (4 boundary edges)"

    small = ostrand.check_cage(*small_cage(example), example.target)
    outside = small.findings[-1]
    assert outside.kind == "points_outside" and outside.count == small.outside.sum() == 972
    assert outside.examples == np.flatnonzero(small.outside)[:5].tolist()
    assert ostrand.check_cage(example.cage, example.faces).outside is None
    flat = ostrand.check_cage(QUAD, QUAD_FACES)
    assert [(f.kind, f.count, f.examples) for f in flat.findings][1] == ("flat", 1, [])
    assert repr(flat) == "<ostrand.CageCheck: 2 findings (boundary_edges, flat)>"


def test_load_warns_when_the_weights_fit_the_target_badly(example, example_binding, tmp_path):
    path = tmp_path / "w.cw"
    example_binding.save(path)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        ostrand.load(path, example.cage, example.faces, example.target)  # its own target: nothing to say
    # The same point count, other positions.
    other = example.target[::-1].copy()
    lines, loaded = told(lambda: ostrand.load(path, example.cage, example.faces, other))
    assert len(lines) == 1 and lines[0].startswith("rest-pose error above 0.01 of the cage's size at ")
    assert np.nanmax(loaded.rest_error) > 0.1
    with pytest.raises(ostrand.OstrandError, match="^strict: 1 warning, so nothing is loaded: rest-pose error"):
        ostrand.load(path, example.cage, example.faces, other, strict=True)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        ostrand.load(path, example.cage, example.faces, other, warn_rest_error=1.0)
