#!/usr/bin/env python3
"""Binds the bundled example's target to its cage with the ostrand Python
module, twists the cage over 48 frames, deforms the target with every frame in
one call and writes the frames as a PC2 point cache.

    PYTHONPATH=build/default/python python3 examples/twist_animation.py [OUT.pc2] [--keep-rest]
"""
import argparse
import pathlib
import sys

import numpy as np

import ostrand

HERE = pathlib.Path(__file__).resolve().parent
FRAMES = 48


def read_obj(path):
    """Points (n, 3) and faces (lists of point numbers from 0) of an OBJ file."""
    points, faces = [], []
    for line in pathlib.Path(path).read_text().splitlines():
        fields = line.split()
        if fields and fields[0] == "v":
            points.append([float(x) for x in fields[1:4]])
        elif fields and fields[0] == "f":
            faces.append([int(corner.split("/")[0]) - 1 for corner in fields[1:]])
    return np.array(points), faces


def twisted(cage, turns):
    """The cage turned about its long (y) axis by `turns` of a full turn at the top, none at the bottom."""
    low, high = cage[:, 1].min(), cage[:, 1].max()
    angle = 2 * np.pi * turns * (cage[:, 1] - low) / (high - low)
    c, s = np.cos(angle), np.sin(angle)
    return np.column_stack([c * cage[:, 0] - s * cage[:, 2], cage[:, 1], s * cage[:, 0] + c * cage[:, 2]])


def write_pc2(path, frames):
    """A PC2 point cache, one sample per frame from frame 0: header, then each frame's points as float32 x, y, z."""
    header = np.zeros(1, dtype=[("magic", "S12"), ("version", "<i4"), ("points", "<i4"), ("start", "<f4"),
                                ("rate", "<f4"), ("samples", "<i4")])
    header[0] = (b"POINTCACHE2\0", 1, frames.shape[1], 0.0, 1.0, frames.shape[0])
    with open(path, "wb") as out:
        out.write(header.tobytes())
        out.write(frames.astype("<f4").tobytes())


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("out", nargs="?", default="twist.pc2", help="the point cache to write")
    parser.add_argument("--keep-rest", action="store_true", help="each point keeps its offset from the weighted rest cage")
    args = parser.parse_args()

    cage, faces = read_obj(HERE / "cage.obj")
    target, _ = read_obj(HERE / "target.obj")
    binding = ostrand.bind(cage, faces, target, samples=32,
                           progress=lambda fraction, text: print(f"\r{fraction:4.0%} {text}", end="", file=sys.stderr))
    print(file=sys.stderr)
    print(f"bound {binding.bound.sum()} of {len(target)} points in {binding.bind_seconds:.3f} s, "
          f"{binding.weights.nnz / len(target):.1f} weights per point, "
          f"largest rest-pose error {np.nanmax(binding.rest_error):.3g}")

    poses = np.stack([twisted(cage, 0.25 * np.sin(np.pi * f / (FRAMES - 1))) for f in range(FRAMES)])
    frames = binding.deform(poses, keep_rest=args.keep_rest)
    write_pc2(args.out, frames)
    print(f"{FRAMES} frames deformed in {binding.evaluation_seconds * 1000:.1f} ms; written to {args.out}")
    # The first pose is the rest cage.
    print(f"frame 1 off the rest pose by {np.abs(frames[0] - target).max():.3g}")


if __name__ == "__main__":
    main()
