"""Forked processes: multiprocessing's fork workers and os.fork children bind
and deform, on the parent's bindings and their own, while the parent holds
bindings of its own, and when the fork comes while another thread of the
parent is inside bind. A child that hangs is killed and fails the test."""

import multiprocessing
import os
import threading
import time

import numpy as np
import pytest

import ostrand

TIMEOUT = 60  # seconds for a child's work, which takes well under one

# AddressSanitizer's allocator (GCC 12's runtime) takes no lock around fork:
# a child forked while another thread is inside malloc can wait forever for
# that thread's lock, whatever the program does.
UNDER_ADDRESS_SANITIZER = "libasan" in os.environ.get("LD_PRELOAD", "")

# What a pool's workers find in the memory they were forked with.
_parent_binding = None
_example = None


def _bind_and_deform(pose_name):
    pose = _example.poses[pose_name]
    again = ostrand.bind(_example.cage, _example.faces, _example.target, threads=2)
    return again.deform(pose), again.weights.toarray(), _parent_binding.deform(pose)


def _exit_code(pid, timeout=TIMEOUT):
    """The child's exit code; None when it had to be killed."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        done, status = os.waitpid(pid, os.WNOHANG)
        if done == pid:
            return os.waitstatus_to_exitcode(status)
        time.sleep(0.01)
    os.kill(pid, 9)
    os.waitpid(pid, 0)
    return None


def _in_child(work):
    """Forks; the child runs work() and exits with what it returns (3 when it
    raises), never returning into the tests. Returns the child's exit code."""
    pid = os.fork()
    if pid == 0:
        code = 3
        try:
            code = work()
        finally:
            os._exit(code)
    return _exit_code(pid)


@pytest.fixture
def reference(example):
    """A binding of the parent on two threads, and what it gives."""
    binding = ostrand.bind(example.cage, example.faces, example.target, threads=2)
    twist = example.poses["cage_twist"]
    return binding, binding.weights.toarray(), binding.deform(twist)


def _same_as(reference, example, binding):
    parent, weights, twisted = reference
    twist = example.poses["cage_twist"]
    return (np.array_equal(binding.weights.toarray(), weights) and np.array_equal(binding.deform(twist), twisted)
            and np.array_equal(parent.deform(twist), twisted))


def test_pool_workers_bind_and_deform_as_the_parent_does(example, reference):
    global _parent_binding, _example
    _parent_binding, _example = reference[0], example
    poses = ["cage_twist", "cage_bend", "cage_twist", "cage_bend"]
    with multiprocessing.get_context("fork").Pool(2) as pool:
        try:
            results = pool.map_async(_bind_and_deform, poses).get(timeout=TIMEOUT)
        except multiprocessing.TimeoutError:
            pytest.fail(f"the pool's workers did not finish within {TIMEOUT} s")
    for name, (own, weights, parents) in zip(poses, results):
        expected = reference[0].deform(example.poses[name])
        assert np.array_equal(own, expected), name
        assert np.array_equal(parents, expected), name
        assert np.array_equal(weights, reference[1])
    # The parent goes on as before.
    assert np.array_equal(reference[0].deform(example.poses["cage_twist"]), reference[2])


@pytest.mark.skipif(UNDER_ADDRESS_SANITIZER, reason="the sanitizer's allocator is not fork-safe with threads")
def test_a_fork_while_another_thread_is_inside_bind(example, reference):
    # A target large enough that the calculation is well under way at the fork.
    rng = np.random.default_rng(5)
    large = np.concatenate([example.target + rng.normal(0, 1e-3, example.target.shape) for _ in range(8)])
    calculating = threading.Event()
    made = []

    def bind_in_thread():
        made.append(ostrand.bind(example.cage, example.faces, large, samples=64, threads=2,
                                 progress=lambda fraction, text: calculating.set()))

    other = threading.Thread(target=bind_in_thread)
    other.start()
    assert calculating.wait(TIMEOUT)
    time.sleep(0.05)
    assert other.is_alive()

    def child():
        reports = []
        again = ostrand.bind(example.cage, example.faces, example.target, threads=2,
                             progress=lambda fraction, text: reports.append(fraction))
        return 0 if _same_as(reference, example, again) and reports[-1] == 1.0 else 1

    code = _in_child(child)
    other.join(TIMEOUT)
    assert code == 0
    assert not other.is_alive() and made[0].bound.any()

