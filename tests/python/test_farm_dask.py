"""The Dask farm example: frame ranges deformed by worker processes of a local
cluster (loopback only, no dashboard) with the pickled binding, gathered into
one PC2 cache bit for bit what one process writes with the binding loaded from
its weights file."""

import os
import subprocess
import sys

import pytest

import ostrand
from conftest import EXAMPLES

sys.path.insert(0, str(EXAMPLES))
import farm_dask  # noqa: E402


def test_farm_cache_equals_one_process(example, example_binding, tmp_path):
    pytest.importorskip("distributed")
    frames, chunk = 10, 3  # the last range shorter than the others
    out = tmp_path / "farm.pc2"
    # Dask's configuration and the workers' scratch space stay in tmp_path.
    environment = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path), TMPDIR=str(tmp_path),
                       DASK_CONFIG=str(tmp_path / "dask-config"))
    result = subprocess.run([sys.executable, EXAMPLES / "farm_dask.py", out, "--frames", str(frames),
                             "--chunk", str(chunk), "--workers", "2"],
                            env=environment, capture_output=True, text=True, timeout=90)
    if result.returncode == farm_dask.CANNOT_START:
        pytest.skip(result.stderr.strip())
    assert result.returncode == 0, result.stderr

    example_binding.save(tmp_path / "w.cw")
    loaded = ostrand.load(tmp_path / "w.cw", example.cage, example.faces, example.target)
    farm_dask.write_pc2(tmp_path / "one.pc2", loaded.deform(farm_dask.poses(example.cage, frames)))
    assert out.read_bytes() == (tmp_path / "one.pc2").read_bytes()
