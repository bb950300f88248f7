#!/usr/bin/env python3
"""Binds the bundled example once, then deforms the twist animation of
examples/twist_animation.py on a local Dask cluster: the frames are cut into
ranges, each worker process deforms its ranges with the pickled binding, and
the frames, gathered in order, are written as one PC2 point cache.

    PYTHONPATH=build/default/python python3 examples/farm_dask.py [OUT.pc2] [--frames N] [--chunk N] [--workers N]

A pickled binding carries its weights as its weights file holds them (single
precision), so the workers deform as a binding loaded from that file does, and
as the ostrand command does. Exits with status 75 when no local cluster can be
started (no Dask, no loopback network).
"""
import argparse
import pathlib
import sys
import time

import numpy as np

import ostrand

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
from twist_animation import HERE, read_obj, twisted, write_pc2  # noqa: E402

CANNOT_START = 75  # EX_TEMPFAIL


def poses(cage, frames):
    """The cage twisted a quarter turn and back over the frames, as twist_animation.py does."""
    return np.stack([twisted(cage, 0.25 * np.sin(np.pi * f / (frames - 1))) for f in range(frames)])


def deform_range(binding, posed):
    """Runs on a worker: the target deformed by each pose of one range of frames."""
    return binding.deform(posed)


def local_cluster(workers):
    """A cluster of `workers` processes on this machine, reached over the loopback only; exits when none starts."""
    try:
        from distributed import LocalCluster

        return LocalCluster(n_workers=workers, processes=True, threads_per_worker=1, host="127.0.0.1",
                            dashboard_address=None)
    except Exception as error:  # whatever keeps it from starting: no Dask, no loopback, no processes
        print(f"farm_dask: no local Dask cluster can be started: {error}", file=sys.stderr)
        sys.exit(CANNOT_START)


def farm(binding, posed, chunk, workers):
    """The frames deformed on a local cluster of `workers` processes, `chunk` frames per task, in order."""
    from distributed import Client

    with local_cluster(workers) as cluster, Client(cluster) as client:
        # Each worker unpickles the binding once, not once per task.
        shared = client.scatter(binding, broadcast=True)
        tasks = [client.submit(deform_range, shared, posed[start:start + chunk])
                 for start in range(0, len(posed), chunk)]
        return np.concatenate(client.gather(tasks))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("out", nargs="?", default="farm.pc2", help="the point cache to write")
    parser.add_argument("--frames", type=int, default=48, help="frames of the animation (at least 2)")
    parser.add_argument("--chunk", type=int, default=8, help="frames per task")
    parser.add_argument("--workers", type=int, default=2, help="worker processes")
    args = parser.parse_args()
    if args.frames < 2 or args.chunk < 1 or args.workers < 1:
        parser.error("--frames needs at least 2, --chunk and --workers at least 1")

    cage, faces = read_obj(HERE / "cage.obj")
    target, _ = read_obj(HERE / "target.obj")
    binding = ostrand.bind(cage, faces, target)
    posed = poses(cage, args.frames)

    start = time.monotonic()
    frames = farm(binding, posed, args.chunk, args.workers)
    write_pc2(args.out, frames)
    print(f"{args.frames} frames deformed on {args.workers} workers in {time.monotonic() - start:.2f} s; "
          f"written to {args.out}")


if __name__ == "__main__":
    main()
