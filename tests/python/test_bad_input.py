"""Bad input raises the right exception with a message naming the argument,
and never takes the interpreter down; what was bound before still works."""

import os

import numpy as np
import pytest

import ostrand

CUBE = np.array([[x, y, z] for x in (0.0, 2.0) for y in (0.0, 2.0) for z in (0.0, 2.0)])
CUBE_FACES = [[0, 1, 3, 2], [4, 6, 7, 5], [0, 4, 5, 1], [2, 3, 7, 6], [0, 2, 6, 4], [1, 5, 7, 3]]
INSIDE = np.array([[1.0, 1.0, 1.0], [0.5, 1.5, 1.0]])


def bind(**changes):
    arguments = dict(cage_points=CUBE, cage_faces=CUBE_FACES, target_points=INSIDE)
    arguments.update(changes)
    return ostrand.bind(**arguments)


@pytest.mark.parametrize("changes, words", [
    (dict(cage_points=CUBE[:, :2]), "cage_points: an (n, 3) array"),
    (dict(cage_points=CUBE.ravel()), "cage_points: an (n, 3) array"),
    (dict(cage_points=np.empty((0, 3))), "cage_points: no points"),
    (dict(cage_points=np.where(CUBE == 2.0, np.nan, CUBE)), "NaN"),
    (dict(target_points=np.array([[1.0, np.inf, 1.0]])), "target_points: row 0 holds an infinity"),
    (dict(cage_points=CUBE.astype(complex)), "real numbers are needed"),
    (dict(cage_points=CUBE.astype(object)), "real numbers are needed"),
    (dict(cage_points="cube"), "not a string"),
    (dict(cage_points=None), "not None"),
    (dict(target_points=[[1, 2, 3], [1, 2]]), "target_points"),
    (dict(cage_faces=[]), "cage_faces: no faces"),
    (dict(cage_faces=[[0, 1]]), "face 0 has 2 corners"),
    (dict(cage_faces=[[0, 1, 8]]), "refers to point 8, but there are 8 points"),
    (dict(cage_faces=[[0, -1, 2]]), "refers to point below 0"),
    (dict(cage_faces=[[0, 1, 2**40]]), "face 0 refers to point 1099511627776, but"),
    (dict(cage_faces=np.array([[0, 1, 2**40]])), "face 0 refers to point 1099511627776, but"),
    (dict(cage_faces=[[0, 1, 2], [0, 1, 2**70]]), "face 1: refers to point 1180591620717411303424, but"),
    (dict(cage_faces=np.array([[0, 1, 2**64 - 1]], dtype=np.uint64)), "refers to point 18446744073709551615, but"),
    (dict(cage_faces=[[0.0, 1.0, 2.0]]), "integers"),
    (dict(cage_faces=np.array([[0, 1, 9]])), "refers to point 9"),
    (dict(cage_faces=(np.arange(8), np.array([3, 3]))), "add up to 6"),
    (dict(cage_faces=(np.arange(8), np.array([3, 9]))), "add up to more"),
    (dict(cage_faces=7), "a sequence of faces"),
    (dict(setup_weights=np.zeros(2)), "every value is 0"),
    (dict(setup_weights=np.ones(3)), "setup_weights: one value per target point"),
    (dict(setup_weights=np.array([1.0, 1e300])), "beyond single precision"),
    (dict(samples=0), "samples: 0"),
    (dict(weight_floor=float("nan")), "weight_floor"),
    (dict(weight_floor=1.5), "weight_floor"),
    (dict(threads=0), "threads: 0"),
    (dict(threads=129), "threads: 129"),
])
def test_bind_refuses(changes, words):
    with pytest.raises(ValueError, match=None) as refused:
        bind(**changes)
    assert words in str(refused.value)


def test_faces_in_every_accepted_form_bind_alike():
    counts = np.array([len(face) for face in CUBE_FACES])
    flat = np.concatenate([np.array(face, dtype=np.uint16) for face in CUBE_FACES])
    reference = bind().weights
    for faces in (np.array(CUBE_FACES, dtype=np.int64), (flat, counts), [tuple(face) for face in CUBE_FACES]):
        weights = bind(cage_faces=faces).weights
        assert (weights != reference).nnz == 0


def test_progress_that_is_not_callable_is_a_type_error():
    with pytest.raises(TypeError):
        bind(progress=3)


def test_deform_refuses(example, example_binding):
    twist = example.poses["cage_twist"]
    for posed, words in ((twist[:-1], "cage points, but the cage has"), (twist[None, :, :2], "(frames, n, 3)"),
                         (np.where(twist > 0, np.nan, twist), "NaN"), (twist.astype(complex), "real numbers")):
        with pytest.raises(ValueError, match=None) as refused:
            example_binding.deform(posed)
        assert words in str(refused.value)
    with pytest.raises(ValueError, match="blend_weights"):
        example_binding.deform(twist, blend_weights=np.ones(4))
    with pytest.raises(ValueError, match="blend_weights"):
        example_binding.deform(twist, blend_weights=np.full(len(example.target), np.nan))
    # Still bound, still deforming; a refused blend leaves no values behind.
    assert example_binding.deform(twist).shape == example.target.shape
    zeros = np.zeros(len(example.target))
    assert np.array_equal(example_binding.deform(twist, blend_weights=zeros), example.target)
    first = np.where(np.arange(len(zeros)) < 7, 1.0, 0.0)
    with pytest.raises(ValueError, match="blend_weights: row 7 holds NaN"):
        example_binding.deform(twist, blend_weights=np.where(np.arange(len(zeros)) == 7, np.nan, first))
    moved = example_binding.deform(twist, blend_weights=first)
    assert np.array_equal(moved[:7], example_binding.deform(twist)[:7])
    assert np.array_equal(moved[7:], example.target[7:])


def test_weights_files_of_another_cage_or_none(example, example_binding, tmp_path):
    example_binding.save(tmp_path / "example.cw")
    with pytest.raises(ValueError, match="example.cw"):
        ostrand.load(tmp_path / "example.cw", CUBE, CUBE_FACES, example.target)
    with pytest.raises(ValueError):
        ostrand.load(tmp_path / "example.cw", example.cage, example.faces, example.target[:-1])
    (tmp_path / "damaged.cw").write_bytes((tmp_path / "example.cw").read_bytes()[:100])
    with pytest.raises(ValueError):
        ostrand.load(tmp_path / "damaged.cw", example.cage, example.faces, example.target)
    with pytest.raises(FileNotFoundError):
        ostrand.load(tmp_path / "missing.cw", example.cage, example.faces, example.target)
    with pytest.raises(IsADirectoryError):
        ostrand.load(tmp_path, example.cage, example.faces, example.target)
    with pytest.raises(FileNotFoundError):
        example_binding.save(tmp_path / "no such folder" / "w.cw")
    with pytest.raises(OSError):
        example_binding.save(tmp_path)
    if os.geteuid() != 0:
        (tmp_path / "locked").mkdir(mode=0o500)
        with pytest.raises(OSError):
            example_binding.save(tmp_path / "locked" / "w.cw")
