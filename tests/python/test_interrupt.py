"""Ctrl-C during a bind stops it at once: the plug-in cannot stop its
calculation, so the host's ray tests stop answering and the result is
dropped; the plug-in is usable afterwards."""

import os
import pathlib
import subprocess
import sys

# A bind of several seconds: the example's target, many times over inside the
# cage, in a process of its own that interrupts itself.
SCRIPT = """
import os, signal, sys, threading, time
import numpy as np, ostrand
from conftest import Example
e = Example()
rng = np.random.default_rng(7)
many = np.concatenate([e.target * 0.9 + rng.normal(0, 1e-3, e.target.shape) for _ in range(%(copies)d)])
sent = []
def interrupt():
    sent.append(time.monotonic())
    os.kill(os.getpid(), signal.SIGINT)
%(before)s
%(timer)s
start = time.monotonic()
try:
    ostrand.bind(e.cage, e.faces, many, samples=200%(progress)s)
    print("finished", time.monotonic() - start)
except %(caught)s:
    print("stopped", time.monotonic() - sent[0] if sent else 0, time.monotonic() - start)
again = ostrand.bind(e.cage, e.faces, e.target)
assert again.bound.all()
assert np.allclose(again.deform(e.cage), e.target, atol=1e-2)
print("usable")
"""


def run(copies, before="", progress="", caught="KeyboardInterrupt", timer="threading.Timer(0.5, interrupt).start()"):
    environment = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    done = subprocess.run([sys.executable, "-c", SCRIPT % dict(copies=copies, before=before, progress=progress,
                                                               caught=caught, timer=timer)],
                          env=environment, cwd=pathlib.Path(__file__).parent, capture_output=True, text=True,
                          timeout=300)
    assert done.returncode == 0, done.stderr
    return done.stdout.split("\n")


def test_ctrl_c_stops_a_bind_within_a_second_and_the_plugin_stays_usable():
    words = run(copies=60)
    assert words[-2] == "usable"
    first = words[0].split()
    assert first[0] == "stopped", words
    assert float(first[1]) < 1.0, words  # from the signal to KeyboardInterrupt
    # The bind on its own takes several times as long: it was cut short.
    assert float(first[2]) < 2.0, words


def test_a_handler_of_the_users_own_answers_the_interrupt():
    before = ("class Stop(Exception): pass\n"
              "def handler(number, frame): raise Stop()\n"
              "signal.signal(signal.SIGINT, handler)")
    words = run(copies=60, before=before, caught="Stop")
    assert words[0].split()[0] == "stopped", words
    assert words[-2] == "usable"


def test_an_exception_from_the_progress_callback_stops_the_bind_early():
    before = ("def progress(fraction, text):\n"
              "    if fraction >= 0.1: raise ValueError('enough')")
    words = run(copies=60, before=before, progress=", progress=progress", caught="ValueError", timer="")
    first = words[0].split()
    assert first[0] == "stopped", words
    assert words[-2] == "usable"
