"""Binding: progress reports, an exception raised by a progress callback, and
the module's settings file, which a thread count given to bind leaves alone."""

import os
import pathlib
import subprocess
import sys
import threading
import time

import numpy as np
import pytest

import ostrand
from conftest import MODULE


def test_progress_arrives_in_order(example):
    reports = []
    ostrand.bind(example.cage, example.faces, example.target, progress=lambda f, text: reports.append((f, text)))
    fractions = [f for f, _ in reports]
    assert len(reports) >= 2 and fractions == sorted(fractions)
    assert fractions[0] == 0.0 and fractions[-1] == 1.0
    assert all(isinstance(text, str) and text for _, text in reports)


def test_an_exception_in_progress_is_raised_not_swallowed(example):
    calls = []

    def failing(fraction, text):
        calls.append(fraction)
        if fraction > 0.0:
            raise KeyError("stop here")

    with pytest.raises(KeyError, match="stop here"):
        ostrand.bind(example.cage, example.faces, example.target, progress=failing)
    assert len(calls) == 2  # not called again once it raised
    # The session goes on.
    assert ostrand.bind(example.cage, example.faces, example.target).bound.all()


def test_rest_error_is_the_distance_to_the_weighted_rest_cage(example, example_binding):
    weighted = example_binding.weights @ example.cage
    distance = np.linalg.norm(weighted - example.target, axis=1)
    assert np.allclose(example_binding.rest_error, distance, rtol=1e-9, atol=1e-15)


def test_thread_count_leaves_the_settings_file_alone(tmp_path):
    # In processes of their own, one ending with a binding still alive, one
    # ended outright (as a Pool worker ends) in the middle of its work.
    settings = MODULE.parent / "Ostrand.ini"
    settings.write_bytes(b"num_threads: 2\ndef_device: 1\n")
    script = (
        "import os, numpy as np, ostrand\n"
        "from conftest import Example\n"
        "e = Example()\n"
        "kept = ostrand.bind(e.cage, e.faces, e.target, threads=%d)\n"
        "assert kept.threads == %d\n"
        "other = ostrand.bind(e.cage, e.faces, e.target)\n"
        "kept.deform(e.cage)\n"
        "%s\n"
    )
    environment = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    for count, end in ((1, ""), (3, "os._exit(0)")):
        subprocess.run([sys.executable, "-c", script % (count, count, end)], check=True, env=environment,
                       cwd=pathlib.Path(__file__).parent)
        assert settings.read_bytes() == b"num_threads: 2\ndef_device: 1\n"


def test_the_interpreter_runs_other_threads_while_the_plugin_binds(example):
    # Between the first progress report and the last, the plug-in works with
    # the interpreter lock released: this thread counts on meanwhile.
    marks = []
    done = threading.Event()

    def bind():
        ostrand.bind(example.cage, example.faces, example.target, threads=1,
                     progress=lambda fraction, text: marks.append(time.perf_counter()))
        done.set()

    worker = threading.Thread(target=bind)
    ticks = []
    worker.start()
    while not done.is_set():
        ticks.append(time.perf_counter())
    worker.join()
    during = [t for t in ticks if marks[0] < t < marks[-1]]
    assert len(during) > 1000


def test_a_progress_callback_calling_into_ostrand_is_refused(example, example_binding):
    def reentrant(fraction, text):
        example_binding.deform(example.cage)

    with pytest.raises(RuntimeError, match="progress callback"):
        ostrand.bind(example.cage, example.faces, example.target, progress=reentrant)

    # A binding whose last reference goes inside a callback goes once the bind is done.
    doomed = [ostrand.bind(example.cage, example.faces, example.target)]
    ostrand.bind(example.cage, example.faces, example.target, progress=lambda fraction, text: doomed.clear())
    assert example_binding.deform(example.cage).shape == example.target.shape
