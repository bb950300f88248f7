"""Bind a target mesh to a cage with the Ostrand plug-in, and deform it with the posed cage.

Points are (n, 3) arrays of finite real numbers (any real dtype; float64 inside).
Faces are a sequence of faces, each a sequence of at least three point numbers; an
(m, k) integer array; or a tuple (indices, counts) of two one-dimensional integer
arrays, the faces' corners one after another and each face's corner count.

Errors: ValueError for a shape, a value (NaN, an infinity, out of range) or a count
that does not fit, a weights file made for another cage or target or holding weights
no bind gives; OstrandError (a ValueError) when a check refuses the weights:
weights from bind that are not finite numbers, under strict any warning, and as
UnboundPointsError points that get no weights; OSError (FileNotFoundError,
IsADirectoryError, PermissionError) for files; RuntimeError when the plug-in
refuses; TypeError naming the argument for one of the wrong type (samples=32.0).

The plug-in is the libOstrand64.so in this package's folder, or the file
$OSTRAND_MODULE names (module_path() tells which).

Checks: bind and load run the ostrand command's checks, from the same code. What
they find that does not stop them is told as the command's warnings, one
OstrandWarning each (warnings.warn), with the command's text: the cage check's
findings (bind), points kept where they are (allow_unbound=True), points whose
rest-pose error is above warn_rest_error, a weight floor that takes points above
it (bind), and deform's first posed cage far from the bound cage (turned,
mirrored or moved). Messages and warnings number points and faces as the command does,
from 1 (the n-th row is point n + 1); attributes (UnboundPointsError.points,
CageFinding.examples) count from 0.
"""

# The work is done by the extension _ostrand, beside this file. The functions
# here give it Python signatures (for inspect and help) and check the type of
# each scalar argument, so that a wrong one is refused naming it.

import numbers
import os
from typing import Callable, Optional, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt

from . import _ostrand
from ._ostrand import (Binding, CageCheck, CageFinding, OstrandError, OstrandWarning,  # noqa: F401 (exported)
                       UnboundPointsError)

__version__ = _ostrand.__version__

__all__ = ["Binding", "CageCheck", "CageFinding", "Faces", "OstrandError", "OstrandWarning", "Path", "PerPoint",
           "Points", "UnboundPointsError", "bind", "check_cage", "load", "module_path"]

Points = npt.ArrayLike
Faces = Union[Sequence[Sequence[int]], npt.NDArray[np.integer], Tuple[npt.NDArray[np.integer], npt.NDArray[np.integer]]]
PerPoint = npt.ArrayLike
# As open() takes them: the bytes go to the file system as they are.
Path = Union[str, bytes, os.PathLike[str], os.PathLike[bytes]]

# The arguments' ranges, as the extension checks them again. Counts are
# checked here too: one beyond a C int would not reach it.
_THREADS = (1, 128)
_SAMPLES = (1, 1000)


def _count(name, value, limits, optional=False):
    """value as an int from limits[0] to limits[1] (or None when optional); bool is no count."""
    if optional and value is None:
        return None
    if not isinstance(value, numbers.Integral) or isinstance(value, bool):
        needed = "an int or None" if optional else "an int"
        raise TypeError(f"{name}: {needed} is needed, not {type(value).__name__}")
    value = int(value)
    if not limits[0] <= value <= limits[1]:
        raise ValueError(f"{name}: {value} is not from {limits[0]} to {limits[1]}")
    return value


def _real(name, value):
    """value as a float (its range is the extension's to check)."""
    if not isinstance(value, numbers.Real) or isinstance(value, bool):
        raise TypeError(f"{name}: a float is needed, not {type(value).__name__}")
    return float(value)


def _flag(name, value):
    """value as a bool: True or False (NumPy's too), nothing else."""
    if not isinstance(value, (bool, np.bool_)):
        raise TypeError(f"{name}: True or False is needed, not {type(value).__name__}")
    return bool(value)


def _text(name, value):
    """value, a str or None."""
    if value is not None and not isinstance(value, str):
        raise TypeError(f"{name}: a str or None is needed, not {type(value).__name__}")
    return value


def bind(
    cage_points: "Points",
    cage_faces: "Faces",
    target_points: "Points",
    *,
    samples: int = 32,
    weight_floor: float = 0.0,
    setup_weights: "Optional[PerPoint]" = None,
    threads: Optional[int] = None,
    progress: Optional[Callable[[float, str], object]] = None,
    allow_unbound: bool = False,
    warn_rest_error: float = 0.01,
    strict: bool = False,
) -> Binding:
    """Binds the target points to the cage (the plug-in's Calculate), with the checks around it.

    The cage is checked first, as ``ostrand bind`` checks it (see check_cage): its
    findings are warned of, and name the likely cause when points get no weights.
    The interpreter lock is released while the check runs and the plug-in works.

    Parameters
    ----------
    samples
        Ray directions per point, 1 to 1000.
    weight_floor
        Weights below it are dropped, 0 to 1. When that takes points' rest-pose
        error above warn_rest_error, the target is bound once more without the
        floor to compare, and a warning says so.
    setup_weights
        One value per target point; points with 0 are not bound and stay where
        they are.
    threads
        1 to 128, for this binding's calls (the cage check's too) only.
    progress
        Called with the fraction done (0 to 1) and a text, in order; an
        exception it raises is raised by bind once the plug-in has finished.
    allow_unbound
        Points that get no weights (the plug-in would move them to the origin
        with the cage) are an error by default. With True the target is bound
        again with them left out through setup weights of their own, so that
        they stay where they are, and a warning names them. A weights file saved
        from such a binding loads with ``setup_weights=binding.bound.astype(float)``.
    warn_rest_error
        Points whose rest-pose error is above this fraction of the cage's size
        (its bounding-box diagonal), 0 to 1, are warned of.
    strict
        Any warning is an error instead: nothing is bound.

    Returns
    -------
    Binding

    Warns
    -----
    OstrandWarning
        One per line of the command's warnings (see the module's docstring).

    Raises
    ------
    UnboundPointsError
        Points got no weights: ``target_points: 2 of 4 points got no weights: 3, 4
        (likely cause: the cage is flat); allow_unbound=True keeps them where they
        are``. Raised with allow_unbound too when no point got any.
    OstrandError
        Under strict, when there is anything to warn of (its ``warnings`` holds the
        lines); when the plug-in gives weights that are not finite numbers (a
        degenerate cage), naming the first few points and the likely cause.
    ValueError
        For arguments that do not fit (shapes, values, counts).
    """
    return _ostrand.bind(
        cage_points, cage_faces, target_points, samples=_count("samples", samples, _SAMPLES),
        weight_floor=_real("weight_floor", weight_floor), setup_weights=setup_weights,
        threads=_count("threads", threads, _THREADS, optional=True), progress=progress,
        allow_unbound=_flag("allow_unbound", allow_unbound), warn_rest_error=_real("warn_rest_error", warn_rest_error),
        strict=_flag("strict", strict))


def load(
    path: "Path",
    cage_points: "Points",
    cage_faces: "Faces",
    target_points: "Points",
    *,
    setup_weights: "Optional[PerPoint]" = None,
    threads: Optional[int] = None,
    allow_unbound: bool = False,
    warn_rest_error: float = 0.01,
    strict: bool = False,
) -> Binding:
    """Reads a weights file (.cw) made for this cage and target (and setup weights).

    A file made for a target of the same point count but other positions reads
    without complaint from the plug-in; the rest-pose error tells: its points are
    warned of, as ``ostrand deform`` warns of them.

    Parameters
    ----------
    allow_unbound
        Points the file holds no weights for are an error by default; with True
        they stay where they are, and a warning names them.
    warn_rest_error
        Points whose rest-pose error is above this fraction of the cage's size,
        0 to 1, are warned of.
    strict
        Any warning is an error instead: nothing is loaded.

    Warns
    -----
    OstrandWarning
        Points whose rest-pose error is above warn_rest_error (the weights fit
        the target badly); points kept where they are.

    Raises
    ------
    ValueError
        Naming the file, when it was made for another cage or target (when it
        holds weights for fewer points than the target has and no setup_weights
        are given, the message says it was likely bound with them), or when it is
        damaged: a weight that is not a finite number, or a point's weights that
        add up neither to 1 (as a bind's do) nor to at most 1e-6 (as a bind's do
        on a cage some 3e7 across or larger); the message names the first few
        target rows, from 0. The path as save takes it: ValueError for a NUL byte.
    UnboundPointsError
        Points hold no weights, naming the file and the likely cause.
    OstrandError
        Under strict, when there is anything to warn of.
    OSError
        FileNotFoundError (also for ""), PermissionError, IsADirectoryError or
        another OSError for a file that cannot be read, naming it as given.
    """
    return _ostrand.load(
        path, cage_points, cage_faces, target_points, setup_weights=setup_weights,
        threads=_count("threads", threads, _THREADS, optional=True),
        allow_unbound=_flag("allow_unbound", allow_unbound), warn_rest_error=_real("warn_rest_error", warn_rest_error),
        strict=_flag("strict", strict))


def check_cage(
    cage_points: "Points",
    cage_faces: "Faces",
    target_points: "Optional[Points]" = None,
    *,
    threads: Optional[int] = None,
) -> CageCheck:
    """Checks the cage, and with target points which of them lie outside it, as ``ostrand check`` does.

    The findings, in the order printed: no faces, boundary edges (open), non-manifold
    edges, faces oriented against their neighbours, one-sided parts, faces that
    intersect, flat, inward, degenerate faces, a size the plug-in's tolerances do not
    suit, far from the origin for its size, points outside (generalised winding
    number, exact for closed cages). docs/checks.md tells each.

    Parameters
    ----------
    threads
        1 to 128; by default one per processor. The result does not depend on it.

    Returns
    -------
    CageCheck

    Raises
    ------
    ValueError
        For points or faces that do not fit, as bind refuses them.
    """
    return _ostrand.check_cage(cage_points, cage_faces, target_points,
                               threads=_count("threads", threads, _THREADS, optional=True))


def module_path() -> str:
    """The plug-in module file in use: that of the bindings alive, else the one the next binding loads.

    That is $OSTRAND_MODULE when set and not empty, else libOstrand64.so in this package's folder.
    """
    return _ostrand.module_path()


class _BindingMethods:
    """Binding's methods with Python signatures, put on the extension's class below."""

    def deform(
        self,
        posed_cage_points: "Points",
        *,
        blend_weights: "Optional[PerPoint]" = None,
        keep_rest: bool = False,
        pose_axis: Optional[str] = None,
    ) -> "npt.NDArray[np.float64]":
        """The target deformed by one posed cage (n, 3) or by many (frames, n, 3).

        Returns (target points, 3), or (frames, target points, 3), new arrays.
        blend_weights: one value per target point; each point goes w of the way
        from its rest position to its deformed one.
        keep_rest: each point keeps its offset from the weighted rest cage, so the
        rest pose and translations of the cage come out exactly (the plug-in's own
        deformation, the default, moves each point to the weighted cage).
        pose_axis: an axis conversion given to every posed cage first, exactly
        (coordinates are swapped and negated, never rounded), as `ostrand deform
        --pose-axis` does: "x90", "x-90", "x180" and the same for y and z (turns
        by the right-hand rule: "x90" takes (x, y, z) to (x, -z, y)), "mirror-x",
        "mirror-y", "mirror-z" (that coordinate negated), "y-up-to-z-up" (= "x90")
        or "z-up-to-y-up" (= "x-90"). ValueError naming the valid ones for any
        other name.

        The first posed cage given (after pose_axis) is checked against the bound
        cage: when it is further than 0.25 of the cage's size from it (root mean
        square), an OstrandWarning says what it is, as the command's warning does:
        the bound cage turned or mirrored (an exporter's change of up axis or of
        handedness) with the pose_axis value that turns it back, the bound cage
        moved (a cache in world space), or neither (not this cage's animation).
        """
        return self._deform(posed_cage_points, blend_weights, _flag("keep_rest", keep_rest),
                            _text("pose_axis", pose_axis))

    def save(self, path: "Path") -> None:
        """Writes the plug-in's weights file (.cw).

        ValueError for a path holding a NUL byte; FileNotFoundError for "" or a
        missing folder; PermissionError for a folder it may not write into;
        IsADirectoryError, NotADirectoryError; another OSError (the errno the
        failure names) when the write fails. The earlier file stays as it was.
        """
        self._save(path)


for _name in ("deform", "save"):
    _method = _BindingMethods.__dict__[_name]
    _method.__qualname__ = "Binding." + _name
    setattr(Binding, _name, _method)
del _BindingMethods, _name, _method
