#!/usr/bin/env python3
"""Writes the bundled example meshes: a capsule-like target inside a hexagonal
prism cage (quads along the sides, hexagons at the ends), and three poses of
the cage (twist, bend, squash). Run from this folder to regenerate."""
import math

RINGS = [-1.5, -0.5, 0.5, 1.5]  # cage ring heights (y)
SIDES = 6
CAGE_RADIUS = 1.25


def cage_points():
    pts = []
    for y in RINGS:
        for k in range(SIDES):
            a = 2 * math.pi * k / SIDES
            pts.append((CAGE_RADIUS * math.cos(a), y, CAGE_RADIUS * math.sin(a)))
    return pts


def cage_polygons():
    polys = []
    # Bottom hexagon facing down, top hexagon facing up.
    polys.append([k for k in range(SIDES)])
    top = (len(RINGS) - 1) * SIDES
    polys.append([top + k for k in reversed(range(SIDES))])
    for r in range(len(RINGS) - 1):
        for k in range(SIDES):
            a, b = r * SIDES + k, r * SIDES + (k + 1) % SIDES
            polys.append([a, a + SIDES, b + SIDES, b])
    return polys


def target():
    around, rings = 64, 48
    pts, polys = [], []
    for j in range(rings + 1):
        t = j / rings
        y = -1.2 + 2.4 * t
        radius = 0.55 + 0.25 * math.sin(math.pi * t) + 0.05 * math.sin(6 * math.pi * t)
        for i in range(around):
            a = 2 * math.pi * i / around
            pts.append((radius * math.cos(a), y, radius * math.sin(a)))
    for j in range(rings):
        for i in range(around):
            a, b = j * around + i, j * around + (i + 1) % around
            polys.append([a, b, b + around, a + around])
    bottom, top = len(pts), len(pts) + 1
    pts.append((0.0, -1.2, 0.0))
    pts.append((0.0, 1.2, 0.0))
    for i in range(around):
        polys.append([bottom, (i + 1) % around, i])
        base = rings * around
        polys.append([top, base + i, base + (i + 1) % around])
    return pts, polys


def twist(p):
    x, y, z = p
    a = 0.6 * y
    return (x * math.cos(a) - z * math.sin(a), y, x * math.sin(a) + z * math.cos(a))


def bend(p):
    x, y, z = p
    radius = 3.0
    a = y / radius
    r = radius - x
    return (radius - r * math.cos(a), r * math.sin(a), z)


def squash(p):
    x, y, z = p
    return (x * 1.3, y * 0.6, z * 1.3)


def write(path, pts, polys, comment):
    with open(path, "w") as f:
        f.write(f"# {comment}\n")
        for p in pts:
            f.write("v %.9g %.9g %.9g\n" % p)
        for poly in polys:
            f.write("f " + " ".join(str(i + 1) for i in poly) + "\n")


cp, cpoly = cage_points(), cage_polygons()
write("cage.obj", cp, cpoly, "Hexagonal prism cage: 24 points, 2 hexagons and 18 quads")
tp, tpoly = target()
write("target.obj", tp, tpoly, f"Capsule target: {len(tp)} points")
for name, f in (("twist", twist), ("bend", bend), ("squash", squash)):
    write(f"cage_{name}.obj", [f(p) for p in cp], cpoly, f"Cage pose: {name}")
