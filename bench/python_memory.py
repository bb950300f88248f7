"""Memory of a long-lived Python process: the growth of its resident memory
per cycle, with one binding kept alive throughout, for each way a pipeline
makes and drops bindings, and per save() of the kept binding.

Run it with the Python module to measure on the import path, e.g.

    PYTHONPATH=build/default/python /usr/bin/python3 bench/python_memory.py

Each figure is the resident memory after the cycles less that before them,
over the cycles, both read after the garbage collector and malloc_trim have
given back what they can; a warm-up of the same cycles comes first, so that
caches filled once (the session, NumPy's, the heap's own) are not counted."""

import argparse
import ctypes
import gc
import os
import pathlib
import tempfile

import numpy as np

import ostrand

_LIBC = ctypes.CDLL("libc.so.6")


def resident_bytes():
    gc.collect()
    _LIBC.malloc_trim(0)
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def growth_per_cycle(cycle, cycles):
    for _ in range(max(cycles // 4, 20)):
        cycle()
    before = resident_bytes()
    for _ in range(cycles):
        cycle()
    return (resident_bytes() - before) / cycles


def box_cage():
    points = np.array([[x, y, z] for z in (-1, 1) for y in (-1, 1) for x in (-1, 1)], float)
    faces = [[0, 2, 3, 1], [4, 5, 7, 6], [0, 1, 5, 4], [2, 6, 7, 3], [0, 4, 6, 2], [1, 3, 7, 5]]
    return points, faces


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--cycles", type=int, default=10000, help="bind or load cycles per figure (default 10000)")
    parser.add_argument("--saves", type=int, default=300, help="save() calls (default 300; each syncs the file)")
    parser.add_argument("--points", type=int, default=50, help="target points (default 50)")
    arguments = parser.parse_args()

    cage, faces = box_cage()
    target = np.random.default_rng(7).uniform(-0.6, 0.6, (arguments.points, 3))
    posed = cage * [1.2, 1.0, 0.8]
    blend = np.linspace(0.0, 1.0, arguments.points)
    setup = (np.arange(arguments.points) % 3 != 0).astype(float)
    folder = pathlib.Path(tempfile.mkdtemp(prefix="ostrand-memory-"))
    weights = folder / "kept.cw"

    kept = ostrand.bind(cage, faces, target, samples=8)
    kept.save(weights)

    def bind_deform():
        binding = ostrand.bind(cage, faces, target, samples=8)
        binding.deform(posed)

    def bind_blended():
        binding = ostrand.bind(cage, faces, target, samples=8, setup_weights=setup)
        binding.deform(posed, blend_weights=blend)
        binding.deform(posed, blend_weights=blend, keep_rest=True)

    def load_deform():
        binding = ostrand.load(weights, cage, faces, target)
        binding.deform(posed)
        binding.weights

    def save():
        kept.save(weights)

    print(f"ostrand from {pathlib.Path(ostrand.__file__).parent}, plug-in {ostrand.module_path()}")
    print(f"{arguments.points} target points, 8-point cage, one binding kept alive")
    for name, cycle, count in (
        ("bind, deform, del", bind_deform, arguments.cycles),
        ("bind (setup weights), blended and keep_rest deform, del", bind_blended, arguments.cycles),
        ("load, deform, weights, del", load_deform, arguments.cycles),
        ("save() of the kept binding", save, arguments.saves),
    ):
        print(f"  {name:58s} {growth_per_cycle(cycle, count):9.1f} bytes per cycle ({count} cycles)")
    for path in folder.iterdir():
        path.unlink()
    folder.rmdir()


if __name__ == "__main__":
    main()
