"""Shared pieces of the Python module's tests: the bundled example's meshes,
a private copy of the plug-in module (its settings file is then ours alone),
the ostrand command, and a reader of weights files."""

import os
import pathlib
import shutil
import struct
import subprocess
import tempfile

import numpy as np
import pytest

SOURCE = pathlib.Path(__file__).resolve().parents[2]
EXAMPLES = SOURCE / "examples"

# Set before the first binding starts the session. A test's own child process
# finds it set, and uses the same copy.
_MODULE_FOLDER = None
if "OSTRAND_MODULE" in os.environ:
    MODULE = pathlib.Path(os.environ["OSTRAND_MODULE"])
else:
    _MODULE_FOLDER = pathlib.Path(tempfile.mkdtemp(prefix="ostrand-python-tests-"))
    MODULE = _MODULE_FOLDER / "libOstrand64.so"
    shutil.copyfile(os.environ["OSTRAND_BUILT_MODULE"], MODULE)
    os.environ["OSTRAND_MODULE"] = str(MODULE)

import ostrand  # noqa: E402  (after the module is chosen)


def pytest_sessionfinish(session, exitstatus):
    if _MODULE_FOLDER is not None:
        shutil.rmtree(_MODULE_FOLDER, ignore_errors=True)


def read_obj(path):
    points, faces = [], []
    for line in pathlib.Path(path).read_text().splitlines():
        fields = line.split()
        if fields and fields[0] == "v":
            points.append([float(x) for x in fields[1:4]])
        elif fields and fields[0] == "f":
            faces.append([int(corner.split("/")[0]) - 1 for corner in fields[1:]])
    return np.array(points), faces


def read_weights_file(path):
    """The weights of a .cw file's one target: {point: [(cage point, float32 weight), ...]}."""
    data = pathlib.Path(path).read_bytes()
    words = struct.unpack(">%dI" % (len(data) // 4), data)
    assert words[4] == 1, "one target"
    active = words[6]
    rows, at = {}, 8
    for _ in range(active):
        point, count = words[at], words[at + 1]
        at += 2
        entries = []
        for _ in range(count):
            weight = struct.unpack(">f", struct.pack(">I", words[at + 1]))[0]
            entries.append((words[at], np.float32(weight)))
            at += 2
        rows[point] = entries
    assert at == len(words)
    return rows


class Example:
    def __init__(self):
        self.cage, self.faces = read_obj(EXAMPLES / "cage.obj")
        self.target, self.target_faces = read_obj(EXAMPLES / "target.obj")
        self.poses = {name: read_obj(EXAMPLES / f"{name}.obj")[0] for name in ("cage_twist", "cage_bend")}


@pytest.fixture(scope="session")
def example():
    return Example()


@pytest.fixture(scope="session")
def example_binding(example):
    return ostrand.bind(example.cage, example.faces, example.target)


def run_command(*arguments):
    """Runs the ostrand command with the private module; returns its result."""
    command = [os.environ["OSTRAND_CLI"], "--module", str(MODULE), *map(str, arguments)]
    result = subprocess.run(command, capture_output=True, text=True)
    assert result.returncode == 0, result.stderr
    return result
