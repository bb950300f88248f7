"""Paths as open() takes them: str, bytes of any encoding and os.PathLike;
a NUL refused before anything is written, "" not found, and each OSError the
subclass its cause stands for, naming the path as the caller gave it."""

import os
import pathlib
import shutil
import subprocess
import sys
import tempfile

import pytest

import ostrand


def load(example, path):
    return ostrand.load(path, example.cage, example.faces, example.target)


@pytest.mark.parametrize("path", ["shot\0_v002.cw", b"shot\0_v002.cw", pathlib.PurePosixPath("shot\0.cw")])
def test_a_nul_byte_is_refused_and_nothing_is_written(example, example_binding, tmp_path, monkeypatch, path):
    monkeypatch.chdir(tmp_path)
    with pytest.raises(ValueError, match="path: embedded null byte"):
        example_binding.save(path)
    assert list(tmp_path.iterdir()) == []
    (tmp_path / "shot").write_bytes(b"")  # what the cut name would read
    with pytest.raises(ValueError, match="embedded null byte"):
        load(example, path)


def test_empty_and_missing_paths_are_not_found(example, example_binding, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    for call in (example_binding.save, lambda p: load(example, p)):
        with pytest.raises(FileNotFoundError) as missing:
            call("")
        assert missing.value.filename == ""
        # Named as given: relative, not made absolute.
        with pytest.raises(FileNotFoundError) as missing:
            call(os.path.join("no such folder", "w.cw"))
        assert missing.value.filename == os.path.join("no such folder", "w.cw")
    (tmp_path / "file").write_bytes(b"")
    with pytest.raises(NotADirectoryError):
        example_binding.save("file/w.cw")
    with pytest.raises(NotADirectoryError):
        load(example, "file/w.cw")
    with pytest.raises(TypeError, match="path: a path"):
        example_binding.save(3)


def test_bytes_and_path_like_names_of_any_encoding(example, example_binding, tmp_path):
    twist = example.poses["cage_twist"]
    folder = os.fsencode(tmp_path)
    latin = folder + b"/plan\xe9.cw"  # not UTF-8
    example_binding.save(latin)
    assert os.path.isfile(latin)
    expected = load(example, latin).deform(twist)
    for path in (latin, os.fsdecode(latin), pathlib.Path(os.fsdecode(latin))):
        assert load(example, path).deform(twist).tobytes() == expected.tobytes()
    unicode = tmp_path / "poids é 重み.cw"
    example_binding.save(unicode)
    assert unicode.read_bytes() == pathlib.Path(os.fsdecode(latin)).read_bytes()
    # Refusals name such a file as given, in messages that can be printed.
    damaged = folder + b"/bad\xff.cw"
    with open(damaged, "wb") as out:
        out.write(b"\0" * 40)
    with pytest.raises(ValueError, match=r"bad\\xff\.cw: ") as refused:
        load(example, damaged)
    str(refused.value).encode("utf-8")
    with pytest.raises(FileNotFoundError) as missing:
        load(example, folder + b"/gone\xff.cw")
    assert missing.value.filename == folder + b"/gone\xff.cw"


def run_unprivileged(script, *arguments):
    """Runs the script in a process that file permissions apply to (as nobody when this one is root)."""
    built = os.environ.get("OSTRAND_BUILT_MODULE", ostrand.module_path())
    environment = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path), OSTRAND_MODULE=built)
    privileges = dict(user=65534, group=65534, extra_groups=[]) if os.geteuid() == 0 else {}
    return subprocess.run([sys.executable, "-c", script, *map(str, arguments)], env=environment,
                          capture_output=True, text=True, timeout=60, **privileges)


PERMISSIONS = """
import sys
import numpy as np

cube = np.array([[x, y, z] for x in (0.0, 2.0) for y in (0.0, 2.0) for z in (0.0, 2.0)])
faces = [[0, 1, 3, 2], [4, 6, 7, 5], [0, 4, 5, 1], [2, 3, 7, 6], [0, 2, 6, 4], [1, 5, 7, 3]]
inside = np.array([[1.0, 1.0, 1.0]])
try:
    import ostrand
    binding = ostrand.bind(cube, faces, inside)
except (ImportError, RuntimeError) as error:
    sys.exit("unreachable: %s" % error)
for call in (lambda: binding.save(sys.argv[1]), lambda: ostrand.load(sys.argv[2], cube, faces, inside)):
    try:
        call()
        print("no error")
    except OSError as error:
        print(type(error).__name__, error.errno, error.filename)
"""


@pytest.fixture
def open_folder():
    """A folder any user may enter (pytest's own are private to their user)."""
    folder = pathlib.Path(tempfile.mkdtemp(prefix="ostrand-paths-"))
    folder.chmod(0o755)
    yield folder
    shutil.rmtree(folder)


def test_permissions_raise_permission_error(open_folder):
    locked = open_folder / "locked"
    locked.mkdir(mode=0o555)
    unreadable = open_folder / "unreadable.cw"
    unreadable.write_bytes(b"")
    unreadable.chmod(0o000)
    result = run_unprivileged(PERMISSIONS, locked / "w.cw", unreadable)
    if result.stderr.startswith("unreachable:"):
        pytest.skip("an unprivileged process cannot load the built module here: " + result.stderr.strip())
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == [f"PermissionError 13 {locked / 'w.cw'}", f"PermissionError 13 {unreadable}"]
    assert list(locked.iterdir()) == []
