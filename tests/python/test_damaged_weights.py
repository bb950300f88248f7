"""Weights files no bind writes are refused by load with the command's check,
naming the file and the target rows; a file bound with setup weights and
loaded without them says so."""

import struct

import numpy as np
import pytest

import ostrand


def patch_weight(path, row, value):
    """Sets the first weight of the target row (from 0) in a weights file."""
    data = bytearray(path.read_bytes())

    def word(at):
        return struct.unpack_from(">I", data, at)[0]

    at = 32
    for _ in range(word(24)):
        if word(at) == row:
            assert word(at + 4) > 0
            struct.pack_into(">f", data, at + 12, value)
            path.write_bytes(bytes(data))
            return
        at += 8 + 8 * word(at + 4)
    raise AssertionError(f"row {row} holds no weights")


@pytest.mark.parametrize("patches, problem", [
    ({16: float("nan"), 239: float("nan")}, "2 points hold weights that are not finite numbers: rows 16, 239"),
    ({4: float("-inf")}, "1 point holds weights that are not finite numbers: row 4"),
    ({3137: 1e37}, "1 point holds weights that do not add up to 1: row 3137 (sum 1e+37)"),
])
def test_load_refuses_damaged_weights(example, example_binding, tmp_path, patches, problem):
    path = tmp_path / "damaged.cw"
    example_binding.save(path)
    for row, value in patches.items():
        patch_weight(path, row, value)
    with pytest.raises(ValueError) as refused:
        ostrand.load(path, example.cage, example.faces, example.target)
    assert str(refused.value) == f"{path}: {problem}; the file is damaged"
    # The binding it was saved from still deforms.
    assert np.isfinite(example_binding.deform(example.poses["cage_bend"])).all()


def test_weights_bound_with_setup_weights_need_them_to_load(example, tmp_path):
    setup = (np.arange(len(example.target)) < 812).astype(float)
    ostrand.bind(example.cage, example.faces, example.target, samples=6, setup_weights=setup).save(tmp_path / "part.cw")
    with pytest.raises(ValueError) as refused:
        ostrand.load(tmp_path / "part.cw", example.cage, example.faces, example.target)
    assert str(refused.value) == (
        f"{tmp_path / 'part.cw'}: the module read no weights from it: it holds weights for 812 of the target's "
        "3138 points, so it was likely bound with a setup weight map; give the same setup_weights")
    again = ostrand.load(tmp_path / "part.cw", example.cage, example.faces, example.target, setup_weights=setup)
    assert again.bound.sum() == 812
