"""Bind a target mesh to a cage with the Ostrand plug-in, and deform it with the posed cage.

Points are (n, 3) arrays of finite real numbers (any real dtype; float64 inside).
Faces are a sequence of faces, each a sequence of at least three point numbers; an
(m, k) integer array; or a tuple (indices, counts) of two one-dimensional integer
arrays, the faces' corners one after another and each face's corner count.

Errors: ValueError for a shape, a value (NaN, an infinity, out of range) or a count
that does not fit, a weights file made for another cage or target or holding weights
no bind gives, and weights from bind that are not finite; OSError
(FileNotFoundError, IsADirectoryError, PermissionError) for files; RuntimeError
when the plug-in refuses.
"""

import os
from typing import Callable, Optional, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt
import scipy.sparse

Points = npt.ArrayLike
Faces = Union[Sequence[Sequence[int]], npt.NDArray[np.integer], Tuple[npt.NDArray[np.integer], npt.NDArray[np.integer]]]
PerPoint = npt.ArrayLike

class Binding:
    """A target bound to a cage; its weights live in the plug-in."""

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
        points that hold no weight (deform keeps them where they are).
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
        """The plug-in's Calculate, in seconds (0 for a loaded binding)."""
    @property
    def evaluation_seconds(self) -> float:
        """The plug-in's evaluation during the last deform, in seconds."""
    def deform(
        self,
        posed_cage_points: Points,
        *,
        blend_weights: Optional[PerPoint] = None,
        keep_rest: bool = False,
    ) -> npt.NDArray[np.float64]:
        """The target deformed by one posed cage (n, 3) or by many (frames, n, 3).

        Returns (target points, 3), or (frames, target points, 3), new arrays.
        blend_weights: one value per target point; each point goes w of the way
        from its rest position to its deformed one.
        keep_rest: each point keeps its offset from the weighted rest cage, so the
        rest pose and translations of the cage come out exactly (the plug-in's own
        deformation, the default, moves each point to the weighted cage).
        """
    def save(self, path: Union[str, os.PathLike[str]]) -> None:
        """Writes the plug-in's weights file (.cw)."""

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
) -> Binding:
    """Binds the target points to the cage (the plug-in's Calculate).

    samples: ray directions per point, 1 to 1000. weight_floor: weights below it are
    dropped, 0 to 1. setup_weights: one value per target point; points with 0 are not
    bound and stay where they are. threads: 1 to 128, for this binding's calls only.
    progress: called with the fraction done (0 to 1) and a text, in order; an
    exception it raises is raised by bind once the plug-in has finished.
    The interpreter lock is released while the plug-in works.
    ValueError, naming the first few target rows, when the plug-in gives weights
    that are not finite numbers (a degenerate cage).
    """

def load(
    path: Union[str, os.PathLike[str]],
    cage_points: Points,
    cage_faces: Faces,
    target_points: Points,
    *,
    setup_weights: Optional[PerPoint] = None,
    threads: Optional[int] = None,
) -> Binding:
    """Reads a weights file (.cw) made for this cage and target (and setup weights).

    ValueError, naming the file, when it was made for another cage or target
    (when it holds weights for fewer points than the target has and no
    setup_weights are given, the message says it was likely bound with them), or
    when it is damaged: a weight that is not a finite number, or a point's weights
    that add up neither to 1 (as a bind's do) nor to at most 1e-6 (as a bind's do
    on a cage some 3e7 across or larger); the message names the first few target
    rows, from 0.
    """

def module_path() -> str:
    """The plug-in module file in use: $OSTRAND_MODULE, or the one built here."""
