"""The Python module and the ostrand command drive the same plug-in: on the
bundled example their weights, deformed points and weights files agree bit
for bit. The command deforms with the weights as its weights file holds them
(single precision), so the points are compared through that file."""

import numpy as np
import pytest

import ostrand
from conftest import EXAMPLES, read_obj, read_weights_file, run_command


@pytest.fixture(scope="module")
def command_run(tmp_path_factory):
    out = tmp_path_factory.mktemp("run")
    run_command("run", "--cage", EXAMPLES / "cage.obj", "--target", EXAMPLES / "target.obj",
                EXAMPLES / "cage_twist.obj", EXAMPLES / "cage_bend.obj", "-o", out / "plain", "-q")
    run_command("run", "--cage", EXAMPLES / "cage.obj", "--target", EXAMPLES / "target.obj",
                EXAMPLES / "cage_twist.obj", "--keep-rest", "-o", out / "kept", "-q")
    return out


def test_weights_file_bytes_equal(example_binding, command_run, tmp_path):
    example_binding.save(tmp_path / "python.cw")
    assert (tmp_path / "python.cw").read_bytes() == (command_run / "plain" / "weights.cw").read_bytes()


def test_weights_are_the_files_entries_in_stored_order(example_binding, command_run):
    weights = example_binding.weights
    assert weights.shape == (len(example_binding.bound), example_binding.cage_point_count)
    rows = read_weights_file(command_run / "plain" / "weights.cw")
    assert sorted(rows) == list(range(weights.shape[0]))
    for point, entries in rows.items():
        begin, end = weights.indptr[point], weights.indptr[point + 1]
        assert list(weights.indices[begin:end]) == [cage for cage, _ in entries]
        # The file holds single precision.
        assert list(weights.data[begin:end].astype(np.float32)) == [w for _, w in entries]


@pytest.fixture(scope="module")
def reread(example, example_binding, tmp_path_factory):
    """The Python binding's weights as its own weights file gives them back."""
    path = tmp_path_factory.mktemp("reread") / "python.cw"
    example_binding.save(path)
    return ostrand.load(path, example.cage, example.faces, example.target)


@pytest.mark.parametrize("pose", ["cage_twist", "cage_bend"])
def test_deformed_points_equal(example, reread, command_run, pose):
    expected, _ = read_obj(command_run / "plain" / f"deformed-{pose}.obj")
    assert np.array_equal(reread.deform(example.poses[pose]), expected)


def test_keep_rest_equals_the_commands(example, reread, command_run):
    expected, _ = read_obj(command_run / "kept" / "deformed-cage_twist.obj")
    assert np.array_equal(reread.deform(example.poses["cage_twist"], keep_rest=True), expected)


def test_loaded_weights_deform_as_the_command_does(example, command_run):
    loaded = ostrand.load(command_run / "plain" / "weights.cw", example.cage, example.faces, example.target)
    run_command("deform", "--weights", command_run / "plain" / "weights.cw", "--cage", EXAMPLES / "cage.obj",
                "--target", EXAMPLES / "target.obj", EXAMPLES / "cage_bend.obj", "-o", command_run / "read", "-q")
    expected, _ = read_obj(command_run / "read" / "deformed-cage_bend.obj")
    assert np.array_equal(loaded.deform(example.poses["cage_bend"]), expected)


def test_thread_counts_give_the_same_weights_and_points(example, example_binding):
    twist = example.poses["cage_twist"]
    for threads in (1, 2, 5):
        other = ostrand.bind(example.cage, example.faces, example.target, threads=threads)
        assert other.threads == threads
        for a, b in ((other.weights, example_binding.weights),):
            assert np.array_equal(a.indptr, b.indptr) and np.array_equal(a.indices, b.indices)
            assert a.data.tobytes() == b.data.tobytes()
        assert other.deform(twist).tobytes() == example_binding.deform(twist).tobytes()
