"""The package as users find it: its version, reprs, signatures and docstrings
in step with the type stubs, arguments of the wrong type refused naming them,
and the plug-in found in the package's own folder (or where $OSTRAND_MODULE
says), so that a copy of the package folder alone works."""

import ast
import inspect
import os
import pathlib
import pickle
import pydoc
import re
import shutil
import subprocess
import sys
import warnings

import numpy as np
import pytest

import ostrand
from conftest import MODULE, SOURCE

PACKAGE = pathlib.Path(ostrand.__file__).parent
STUB = ast.parse((PACKAGE / "__init__.pyi").read_text())

CUBE = np.array([[x, y, z] for x in (0.0, 2.0) for y in (0.0, 2.0) for z in (0.0, 2.0)])
CUBE_FACES = [[0, 1, 3, 2], [4, 6, 7, 5], [0, 4, 5, 1], [2, 3, 7, 6], [0, 2, 6, 4], [1, 5, 7, 3]]
INSIDE = np.array([[1.0, 1.0, 1.0], [0.5, 1.5, 1.0]])


@pytest.fixture(scope="module")
def cube_binding():
    return ostrand.bind(CUBE, CUBE_FACES, INSIDE)


# --- What the package says of itself ------------------------------------------

def test_version_is_the_projects():
    declared = re.search(r"project\(Ostrand VERSION ([0-9.]+)", (SOURCE / "CMakeLists.txt").read_text())
    assert ostrand.__version__ == declared.group(1)


def test_package_folder_holds_what_it_ships():
    names = {path.name for path in PACKAGE.iterdir()}
    assert {"__init__.py", "__init__.pyi", "py.typed", "libOstrand64.so"} <= names
    assert any(name.startswith("_ostrand.") and name.endswith(".so") for name in names)


def test_reprs_and_pickles_name_the_package(cube_binding):
    assert repr(cube_binding) == ("<ostrand.Binding: 2 target points bound to a cage of 8 points, "
                                  "threads: the plug-in's setting>")
    three = ostrand.bind(CUBE, CUBE_FACES, INSIDE[:1], threads=3)
    assert repr(three) == "<ostrand.Binding: 1 target point bound to a cage of 8 points, threads: 3>"
    assert repr(pickle.loads(pickle.dumps(three))) == repr(three)
    for kind in (ostrand.Binding, ostrand.CageCheck, ostrand.CageFinding, ostrand.OstrandWarning):
        assert kind.__module__ == "ostrand"
    # A pickle names the class where any process finds it, not the extension.
    assert b"_ostrand" not in pickle.dumps(three)


# --- Signatures and docstrings against the stubs ------------------------------

def stub_functions():
    """(qualified name, stub node) of the stub's public functions and Binding's methods."""
    for node in STUB.body:
        if isinstance(node, ast.FunctionDef) and not node.name.startswith("_"):
            yield node.name, node
        if isinstance(node, ast.ClassDef) and node.name == "Binding":
            for method in node.body:
                if (isinstance(method, ast.FunctionDef) and not method.name.startswith("_")
                        and not any(isinstance(d, ast.Name) and d.id == "property" for d in method.decorator_list)):
                    yield "Binding." + method.name, method


def stub_parameters(node):
    """[(name, kind, default)] as inspect.Parameter would give them."""
    arguments = node.args
    positional = arguments.posonlyargs + arguments.args
    defaults = [inspect.Parameter.empty] * (len(positional) - len(arguments.defaults)) + arguments.defaults
    empty = inspect.Parameter.empty

    def value(default):
        return empty if default is empty or default is None else ast.literal_eval(default)

    found = [(a.arg, inspect.Parameter.POSITIONAL_OR_KEYWORD, value(d)) for a, d in zip(positional, defaults)]
    found += [(a.arg, inspect.Parameter.KEYWORD_ONLY, value(d))
              for a, d in zip(arguments.kwonlyargs, arguments.kw_defaults)]
    return found


def runtime(qualified):
    found = ostrand
    for part in qualified.split("."):
        found = getattr(found, part)
    return found


def test_stub_names_the_public_functions_and_methods():
    assert sorted(name for name, _ in stub_functions()) == [
        "Binding.deform", "Binding.save", "bind", "check_cage", "load", "module_path"]


@pytest.mark.parametrize("qualified, node", list(stub_functions()), ids=lambda v: v if isinstance(v, str) else "")
def test_signature_and_docstring_match_the_stub(qualified, node):
    function = runtime(qualified)
    signature = inspect.signature(function)
    assert [(p.name, p.kind, p.default) for p in signature.parameters.values()] == stub_parameters(node)
    assert inspect.getdoc(function) == ast.get_docstring(node)
    assert function.__qualname__ == qualified


def test_public_names_match_the_stub():
    declared = set()
    for node in STUB.body:
        if isinstance(node, (ast.ClassDef, ast.FunctionDef)):
            declared.add(node.name)
        elif isinstance(node, ast.Assign):
            declared.update(target.id for target in node.targets)
        elif isinstance(node, ast.AnnAssign):
            declared.add(node.target.id)
    assert declared - {"__version__"} == set(ostrand.__all__)
    assert all(hasattr(ostrand, name) for name in declared)
    assert inspect.getdoc(ostrand) == ast.get_docstring(STUB)
    for node in STUB.body:
        if isinstance(node, ast.ClassDef) and node.name in ("Binding", "CageCheck", "CageFinding"):
            for member in node.body:
                if isinstance(member, ast.FunctionDef):
                    assert hasattr(runtime(node.name), member.name), f"{node.name}.{member.name}"


def test_help_shows_types_defaults_and_ranges():
    shown = pydoc.render_doc(ostrand.bind, renderer=pydoc.plaintext)
    for words in ("samples: int = 32", "threads: Optional[int] = None", "weight_floor: float = 0.0",
                  "Ray directions per point, 1 to 1000.", "1 to 128"):
        assert words in shown
    assert "keep_rest: bool = False" in pydoc.render_doc(ostrand.Binding.deform, renderer=pydoc.plaintext)


# --- Arguments of the wrong type ----------------------------------------------

def call(function, **changes):
    """function called on the cube with the changes."""
    if function == "bind":
        return ostrand.bind(CUBE, CUBE_FACES, INSIDE, **changes)
    if function == "load":  # the arguments are checked before the file is looked for
        return ostrand.load("no such file.cw", CUBE, CUBE_FACES, INSIDE, **changes)
    return ostrand.check_cage(CUBE, CUBE_FACES, INSIDE, **changes)


@pytest.mark.parametrize("function, changes, message", [
    ("bind", dict(samples=32.0), "samples: an int is needed, not float"),
    ("bind", dict(samples=True), "samples: an int is needed, not bool"),
    ("bind", dict(samples="32"), "samples: an int is needed, not str"),
    ("bind", dict(weight_floor="0"), "weight_floor: a float is needed, not str"),
    ("bind", dict(weight_floor=None), "weight_floor: a float is needed, not NoneType"),
    ("bind", dict(threads=2.0), "threads: an int or None is needed, not float"),
    ("bind", dict(allow_unbound=1), "allow_unbound: True or False is needed, not int"),
    ("bind", dict(warn_rest_error=[0.1]), "warn_rest_error: a float is needed, not list"),
    ("bind", dict(strict="yes"), "strict: True or False is needed, not str"),
    ("load", dict(threads="2"), "threads: an int or None is needed, not str"),
    ("load", dict(strict=None), "strict: True or False is needed, not NoneType"),
    ("load", dict(warn_rest_error=1j), "warn_rest_error: a float is needed, not complex"),
    ("check_cage", dict(threads=np.float64(2)), "threads: an int or None is needed, not float64"),
])
def test_a_wrong_type_names_the_argument(function, changes, message):
    with pytest.raises(TypeError) as refused:
        call(function, **changes)
    assert str(refused.value) == message


def test_deform_and_save_name_their_arguments(cube_binding, tmp_path):
    with pytest.raises(TypeError, match=r"^keep_rest: True or False is needed, not int$"):
        cube_binding.deform(CUBE, keep_rest=1)
    with pytest.raises(TypeError, match=r"^pose_axis: a str or None is needed, not int$"):
        cube_binding.deform(CUBE, pose_axis=90)
    with pytest.raises(TypeError, match=r"^path: a path"):
        cube_binding.save(3.5)
    with pytest.raises(TypeError, match="positional"):
        cube_binding.deform(CUBE, None)  # the options are keywords only
    assert cube_binding.deform(CUBE).shape == INSIDE.shape  # still works


def test_numpy_scalars_are_accepted_and_counts_beyond_c_int_refused(cube_binding):
    bound = ostrand.bind(CUBE, CUBE_FACES, INSIDE, samples=np.int16(32), weight_floor=np.float32(0.0),
                         threads=np.uint8(2), strict=np.bool_(False), warn_rest_error=1)
    assert bound.threads == 2 and type(bound.threads) is int
    assert np.array_equal(bound.weights.toarray(), cube_binding.weights.toarray())
    with pytest.raises(ValueError, match=r"^samples: 1180591620717411303424 is not from 1 to 1000$"):
        ostrand.bind(CUBE, CUBE_FACES, INSIDE, samples=2**70)
    with pytest.raises(ValueError, match=r"^threads: -1 is not from 1 to 128$"):
        ostrand.check_cage(CUBE, CUBE_FACES, threads=-1)


def test_a_warning_names_the_callers_line(cube_binding):
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        cube_binding.deform(CUBE + 100.0)  # far from the bound cage
    assert [w.category for w in caught] == [ostrand.OstrandWarning]
    assert caught[0].filename == __file__


# --- Where the plug-in is found -----------------------------------------------

USE = """
import gc, os, sys
import numpy as np
import ostrand

cube = np.array([[x, y, z] for x in (0.0, 2.0) for y in (0.0, 2.0) for z in (0.0, 2.0)])
faces = [[0, 1, 3, 2], [4, 6, 7, 5], [0, 4, 5, 1], [2, 3, 7, 6], [0, 2, 6, 4], [1, 5, 7, 3]]
os.chdir("/")  # the package was found through a relative PYTHONPATH
print(ostrand.__file__)
print(ostrand.module_path())
try:
    binding = ostrand.bind(cube, faces, np.array([[1.0, 1.0, 1.0]]))
except RuntimeError as error:
    sys.exit(str(error))
print(np.round(binding.deform(cube + 0.5), 1).tolist())
# While the binding lives, its plug-in stays the one in use.
os.environ["OSTRAND_MODULE"] = "/elsewhere/libOstrand64.so"
print(ostrand.module_path())
del binding
gc.collect()
print(ostrand.module_path())
"""


def run_copy(tmp_path, module=None, with_plugin=True):
    """Runs USE against a copy of the package folder alone, with $OSTRAND_MODULE as given (None: unset)."""
    site = tmp_path / "site"
    shutil.copytree(PACKAGE, site / "ostrand", ignore=shutil.ignore_patterns("__pycache__"))
    if not with_plugin:
        (site / "ostrand" / "libOstrand64.so").unlink()
    environment = {name: value for name, value in os.environ.items()
                   if name not in ("OSTRAND_MODULE", "PYTHONPATH", "LD_LIBRARY_PATH")}
    environment.update(PYTHONPATH="site", TMPDIR=str(tmp_path))
    if module is not None:
        environment["OSTRAND_MODULE"] = module
    result = subprocess.run([sys.executable, "-c", USE], cwd=tmp_path, env=environment, capture_output=True,
                            text=True, timeout=120)
    return site / "ostrand", result


@pytest.mark.parametrize("module", [None, ""], ids=["unset", "empty"])
def test_a_copied_package_uses_the_plugin_beside_it(tmp_path, module):
    package, result = run_copy(tmp_path, module)
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    beside = str(package.resolve() / "libOstrand64.so")
    assert lines[0] == str(package.resolve() / "__init__.py")
    assert lines[1] == beside
    assert lines[2] == "[[1.5, 1.5, 1.5]]"
    assert lines[3:] == [beside, "/elsewhere/libOstrand64.so"]


def test_ostrand_module_overrides_the_plugin_beside(tmp_path):
    other = tmp_path / "other" / "libOstrand64.so"
    other.parent.mkdir()
    shutil.copyfile(MODULE, other)
    _, result = run_copy(tmp_path, str(other), with_plugin=False)
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines()[1:] == [str(other), "[[1.5, 1.5, 1.5]]", str(other),
                                              "/elsewhere/libOstrand64.so"]


def test_a_missing_plugin_is_a_clear_error(tmp_path):
    package, result = run_copy(tmp_path, with_plugin=False)
    assert result.returncode == 1
    assert result.stderr.strip() == f"{package.resolve() / 'libOstrand64.so'}: no such module file"
