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

import os
from typing import Callable, List, Optional, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt
import scipy.sparse

Points = npt.ArrayLike
Faces = Union[Sequence[Sequence[int]], npt.NDArray[np.integer], Tuple[npt.NDArray[np.integer], npt.NDArray[np.integer]]]
PerPoint = npt.ArrayLike
# As open() takes them: the bytes go to the file system as they are.
Path = Union[str, bytes, os.PathLike[str], os.PathLike[bytes]]

__version__: str

class Binding:
    """A target bound to a cage; its weights live in the plug-in.

    It pickles: the state holds the weights file's bytes, the meshes, the setup
    weights and the thread count, and is loaded back through a private
    temporary file. An unpickled binding deforms as one loaded from its weights
    file (single precision, as the command does), bit for bit in any process.
    """

    @property
    def weights(self) -> scipy.sparse.csr_matrix:
        """The plug-in's weights, target points x cage points, entries in stored order (a new matrix each time)."""
    @property
    def bound(self) -> npt.NDArray[np.bool_]:
        """Per target point: whether it holds any weight."""
    @property
    def rest_error(self) -> npt.NDArray[np.float64]:
        """Per target point: distance from its rest position to the weighted rest cage.

        0 for points the setup weights left out (they stay where they are), NaN for
        points that hold no weight, or that bind left out for want of any with
        allow_unbound=True (deform keeps them where they are).
        """
    @property
    def cage_point_count(self) -> int: ...
    @property
    def target_point_count(self) -> int: ...
    @property
    def threads(self) -> Optional[int]:
        """The worker threads this binding's calls use; None for the plug-in's setting."""
    @property
    def bind_seconds(self) -> float:
        """The plug-in's Calculate, in seconds, with the binds again the checks make (0 for a loaded binding)."""
    @property
    def evaluation_seconds(self) -> float:
        """The plug-in's evaluation during the last deform, in seconds."""
    def deform(
        self,
        posed_cage_points: Points,
        *,
        blend_weights: Optional[PerPoint] = None,
        keep_rest: bool = False,
        pose_axis: Optional[str] = None,
    ) -> npt.NDArray[np.float64]:
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
    def save(self, path: Path) -> None:
        """Writes the plug-in's weights file (.cw).

        ValueError for a path holding a NUL byte; FileNotFoundError for "" or a
        missing folder; PermissionError for a folder it may not write into;
        IsADirectoryError, NotADirectoryError; another OSError (the errno the
        failure names) when the write fails. The earlier file stays as it was.
        """
    def __repr__(self) -> str: ...
    def __getstate__(self) -> dict: ...
    def __setstate__(self, state: dict) -> None: ...

def bind(
    cage_points: Points,
    cage_faces: Faces,
    target_points: Points,
    *,
    samples: int = 32,
    weight_floor: float = 0.0,
    setup_weights: Optional[PerPoint] = None,
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

def load(
    path: Path,
    cage_points: Points,
    cage_faces: Faces,
    target_points: Points,
    *,
    setup_weights: Optional[PerPoint] = None,
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

class OstrandWarning(UserWarning):
    """What the checks around bind and load found that the caller should know: the ostrand command's warnings."""

class OstrandError(ValueError):
    """A check refused the weights (under strict, any warning): nothing was bound or loaded."""

    warnings: List[str]
    """Under strict: the lines that would have been warned of (absent otherwise)."""

class UnboundPointsError(OstrandError):
    """Target points got no weights; allow_unbound=True keeps them where they are."""

    points: npt.NDArray[np.int64]
    """The points without weights, from 0."""

class CageFinding:
    """One finding of the cage check; str() is its line."""

    @property
    def kind(self) -> str:
        """What is wrong: ``boundary_edges``, ``non_manifold_edges``, ``misoriented_faces``,
        ``one_sided_parts``, ``intersecting_faces``, ``flat``, ``inward``, ``degenerate_faces``,
        ``non_finite_points``, ``size``, ``far_from_origin``, ``no_faces`` or ``points_outside``."""
    @property
    def count(self) -> int:
        """How many edges, faces, pairs of faces, parts or points it counts (1 for a finding about the whole cage)."""
    @property
    def examples(self) -> List[Union[int, Tuple[int, int]]]:
        """The first few (at most 5), from 0: a point or a face; an edge as (point, point) in the direction
        its line gives; a pair of faces; the first face of a one-sided part. Empty for the whole cage."""
    @property
    def line(self) -> str:
        """The line ``ostrand check`` prints for it (numbers from 1)."""

class CageCheck:
    """What the cage check found; str() is what ``ostrand check`` prints: the findings' lines, or the clean line."""

    @property
    def findings(self) -> List[CageFinding]:
        """The findings, in the order printed; empty when clean."""
    @property
    def clean(self) -> bool:
        """Nothing found (and, with a target, every point inside)."""
    @property
    def likely_cause(self) -> str:
        """Why points would bind badly or not at all, the gravest first (``the cage is flat``); "" for none."""
    @property
    def outside(self) -> Optional[npt.NDArray[np.bool_]]:
        """Per target point: whether it lies outside the cage; None without a target."""

def check_cage(
    cage_points: Points,
    cage_faces: Faces,
    target_points: Optional[Points] = None,
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

def module_path() -> str:
    """The plug-in module file in use: that of the bindings alive, else the one the next binding loads.

    That is $OSTRAND_MODULE when set and not empty, else libOstrand64.so in this package's folder.
    """
