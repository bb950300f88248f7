"""Deforming: the offset form (keep_rest), blending, many frames at once, and
points the plug-in leaves without weights."""

import numpy as np
import pytest

import ostrand


def test_keep_rest_gives_the_rest_pose_exactly(example, example_binding):
    # The plug-in's own form misses the rest pose by the weights' error ...
    plain = example_binding.deform(example.cage)
    assert np.abs(plain - example.target).max() > 1e-5
    # ... the offset form gives it back exactly, blended or not.
    assert np.array_equal(example_binding.deform(example.cage, keep_rest=True), example.target)
    half = np.full(len(example.target), 0.5)
    assert np.array_equal(example_binding.deform(example.cage, keep_rest=True, blend_weights=half), example.target)


def test_keep_rest_moves_with_a_translated_cage(example, example_binding):
    size = np.linalg.norm(example.cage.max(axis=0) - example.cage.min(axis=0))
    shift = np.array([0.75, -2.5, 13.0])
    moved = example_binding.deform(example.cage + shift, keep_rest=True)
    assert np.abs(moved - (example.target + shift)).max() <= 1e-13 * max(size, np.abs(shift).max())


def test_keep_rest_blend_goes_part_of_the_way(example, example_binding):
    twist = example.poses["cage_twist"]
    full = example_binding.deform(twist, keep_rest=True)
    weights = np.linspace(0.0, 1.0, len(example.target))
    weights = weights.astype(np.float32).astype(np.float64)  # as the host's weight maps hold them
    blended = example_binding.deform(twist, keep_rest=True, blend_weights=weights)
    expected = example.target + weights[:, None] * (full - example.target)
    assert np.allclose(blended, expected, rtol=0, atol=1e-12)
    assert np.array_equal(blended[0], example.target[0])  # weight 0: exactly at rest


def test_the_plugins_blend_and_switching_forms(example, example_binding):
    twist = example.poses["cage_twist"]
    plain = example_binding.deform(twist)
    zero = example_binding.deform(twist, blend_weights=np.zeros(len(example.target)))
    assert np.array_equal(zero, example.target)
    one = example_binding.deform(twist, blend_weights=np.ones(len(example.target), dtype=np.float32))
    assert np.array_equal(one, plain)
    # New values, the same call otherwise; then back to no blend.
    quarter = example_binding.deform(twist, blend_weights=np.full(len(example.target), 0.25))
    assert not np.array_equal(quarter, plain)
    assert np.array_equal(example_binding.deform(twist), plain)
    # keep_rest off again: the plug-in's own form.
    example_binding.deform(twist, keep_rest=True)
    assert np.array_equal(example_binding.deform(twist), plain)


def test_many_frames_equal_one_at_a_time(example, example_binding):
    poses = np.stack([example.poses["cage_twist"], example.cage, example.poses["cage_bend"]])
    many = example_binding.deform(poses)
    assert many.shape == (3, len(example.target), 3)
    for frame, pose in zip(many, poses):
        assert np.array_equal(frame, example_binding.deform(pose))
    assert example_binding.deform(poses[:0]).shape == (0, len(example.target), 3)
    # Inputs of another dtype or layout are taken as float64.
    assert np.array_equal(example_binding.deform(np.asfortranarray(poses[0]).astype(np.float32)),
                          example_binding.deform(poses[0].astype(np.float32).astype(np.float64)))


def test_points_without_weights_stay_where_they_are(example):
    # One square: a point just above it binds to it; every sample ray of a
    # point far to the side misses it.
    cage = np.array([[-1, -1, 0], [1, -1, 0], [1, 1, 0], [-1, 1, 0]], dtype=float)
    target = np.array([[0.0, 0.0, 0.5], [50.0, 0.0, 0.5]])
    with pytest.warns(ostrand.OstrandWarning, match="1 of 2 points got no weights"):
        binding = ostrand.bind(cage, [[0, 1, 2, 3]], target, allow_unbound=True)
    assert binding.bound.tolist() == [True, False]
    assert not binding.bound.all()
    free = ~binding.bound
    assert np.isnan(binding.rest_error[free]).all()
    moved = binding.deform(cage + [1.0, 2.0, 0.0])
    assert np.array_equal(moved[free], target[free])


def test_setup_weights_leave_points_out(example):
    setup = np.ones(len(example.target))
    setup[::2] = 0.0
    binding = ostrand.bind(example.cage, example.faces, example.target, setup_weights=setup)
    assert np.array_equal(binding.bound, setup != 0)
    assert binding.weights[0].nnz == 0 and binding.rest_error[0] == 0.0
    moved = binding.deform(example.poses["cage_twist"])
    assert np.array_equal(moved[::2], example.target[::2])
