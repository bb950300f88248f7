"""A pickled Binding carries its weights file and meshes: unpickled, here or in
another process, it deforms bit for bit as the binding loaded from its weights
file does, keeps its setup weights and threads, and leaves no file behind."""

import copy
import os
import pickle
import subprocess
import sys

import numpy as np
import pytest

import ostrand


@pytest.fixture(scope="module")
def reloaded(example, example_binding, tmp_path_factory):
    """The example binding through its weights file: the single precision the file holds."""
    path = tmp_path_factory.mktemp("reloaded") / "w.cw"
    example_binding.save(path)
    return ostrand.load(path, example.cage, example.faces, example.target)


def same_weights(a, b):
    a, b = a.weights, b.weights
    return (np.array_equal(a.indptr, b.indptr) and np.array_equal(a.indices, b.indices)
            and a.data.tobytes() == b.data.tobytes())


def test_unpickled_deforms_as_loaded_from_the_weights_file(example, example_binding, reloaded, tmp_path, monkeypatch):
    # Its temporary files go where TMPDIR says, and go again.
    monkeypatch.setenv("TMPDIR", str(tmp_path))
    poses = np.stack([example.poses["cage_twist"], example.poses["cage_bend"]])
    for again in (pickle.loads(pickle.dumps(example_binding)), copy.deepcopy(example_binding)):
        assert same_weights(again, reloaded)
        assert again.deform(poses).tobytes() == reloaded.deform(poses).tobytes()
        assert again.deform(poses, keep_rest=True).tobytes() == reloaded.deform(poses, keep_rest=True).tobytes()
        assert np.array_equal(again.bound, example_binding.bound)
        assert (again.cage_point_count, again.target_point_count) == (len(example.cage), len(example.target))
    assert list(tmp_path.iterdir()) == []
    # Pickled again, it is the same binding still.
    twice = pickle.loads(pickle.dumps(pickle.loads(pickle.dumps(example_binding))))
    assert same_weights(twice, reloaded)


def test_setup_weights_and_threads_travel(example, tmp_path):
    setup = (example.target[:, 1] > np.median(example.target[:, 1])).astype(np.float32)
    bound = ostrand.bind(example.cage, example.faces, example.target, setup_weights=setup, threads=3)
    again = pickle.loads(pickle.dumps(bound, protocol=pickle.HIGHEST_PROTOCOL))
    assert again.threads == 3
    assert np.array_equal(again.bound, setup != 0)
    bound.save(tmp_path / "w.cw")
    loaded = ostrand.load(tmp_path / "w.cw", example.cage, example.faces, example.target, setup_weights=setup)
    twist = example.poses["cage_twist"]
    assert again.deform(twist).tobytes() == loaded.deform(twist).tobytes()
    # Points the setup weights left out stay where they are.
    assert np.array_equal(again.deform(twist)[setup == 0], example.target[setup == 0])


def test_points_allow_unbound_left_out_stay_so(recwarn):
    cube = np.array([[x, y, z] for x in (0.0, 2.0) for y in (0.0, 2.0) for z in (0.0, 2.0)])
    faces = [[0, 1, 3, 2], [4, 6, 7, 5], [0, 4, 5, 1], [2, 3, 7, 6], [0, 2, 6, 4], [1, 5, 7, 3]]
    target = np.array([[1.0, 1.0, 1.0], [50.0, 50.0, 50.0], [0.5, 1.5, 1.0]])
    bound = ostrand.bind(cube, faces, target, allow_unbound=True)
    warned = len(recwarn)
    again = pickle.loads(pickle.dumps(bound))
    assert len(recwarn) == warned  # told once, when bound
    assert np.array_equal(again.bound, [True, False, True])
    assert np.isnan(again.rest_error[1]) and np.array_equal(np.isnan(again.rest_error), np.isnan(bound.rest_error))
    assert np.array_equal(again.deform(cube * 1.5)[1], target[1])


UNPICKLE = """
import pickle, sys
import numpy as np
binding = pickle.loads(open(sys.argv[1], "rb").read())
np.save(sys.argv[3], binding.deform(np.load(sys.argv[2])))
"""


def test_another_process_unpickles_it(example, example_binding, reloaded, tmp_path):
    (tmp_path / "binding.pickle").write_bytes(pickle.dumps(example_binding))
    np.save(tmp_path / "pose.npy", example.poses["cage_bend"])
    environment = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    subprocess.run([sys.executable, "-c", UNPICKLE, tmp_path / "binding.pickle", tmp_path / "pose.npy",
                    tmp_path / "out.npy"], check=True, env=environment, capture_output=True, timeout=60)
    assert np.load(tmp_path / "out.npy").tobytes() == reloaded.deform(example.poses["cage_bend"]).tobytes()


def test_a_damaged_pickle_is_refused(example, example_binding):
    state = example_binding.__getstate__()
    assert state["weights_file"][:4] and isinstance(state["weights_file"], bytes)
    damaged = dict(state, weights_file=state["weights_file"][:100])
    with pytest.raises(ValueError, match="pickled Binding"):
        ostrand.Binding.__new__(ostrand.Binding).__setstate__(damaged)
    with pytest.raises(ValueError, match="another version"):
        ostrand.Binding.__new__(ostrand.Binding).__setstate__(dict(state, version=99))
    with pytest.raises(ValueError, match="cage_faces"):
        ostrand.Binding.__new__(ostrand.Binding).__setstate__(dict(state, cage_faces=[[0, 1, 99]]))
