"""The Python example of docs/python.md runs and writes a point cache of the twisted
target that starts at the rest pose (with --keep-rest, exactly)."""

import os
import subprocess
import sys

import numpy as np

from conftest import EXAMPLES, read_obj


def test_twist_animation_writes_a_cache(tmp_path):
    out = tmp_path / "twist.pc2"
    environment = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    subprocess.run([sys.executable, EXAMPLES / "twist_animation.py", out, "--keep-rest"], check=True,
                   env=environment, capture_output=True)
    target, _ = read_obj(EXAMPLES / "target.obj")
    data = out.read_bytes()
    assert data[:12] == b"POINTCACHE2\0"
    version, points, start, rate, samples = np.frombuffer(data[12:32], dtype="<i4,<i4,<f4,<f4,<i4")[0]
    assert (version, points, samples) == (1, len(target), 48)
    frames = np.frombuffer(data[32:], dtype="<f4").reshape(samples, points, 3)
    assert np.array_equal(frames[0], target.astype(np.float32))
    assert np.abs(frames[24] - target).max() > 0.1  # twisted in the middle
