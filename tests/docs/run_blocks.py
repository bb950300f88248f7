#!/usr/bin/env python3
"""Runs every block of README.md and docs/*.md marked <!-- runnable -->.

Each block runs on its own in a fresh temporary folder that holds a copy of the
repository's examples/, so that commands written "from the repository's root"
work there: shell blocks with bash -euo pipefail, Python blocks with this
interpreter (which is also the python3 the blocks find on the PATH). The built
ostrand command must be on the PATH and the Python package on PYTHONPATH.
Fails naming the file and line of each block that fails or runs out of time,
and of each marker that is not right before a shell or Python block.

    run_blocks.py [--timeout SECONDS] [PAGE.md ...]
"""
import argparse
import os
import pathlib
import shutil
import signal
import subprocess
import sys
import tempfile

import markdown_docs

SHELL = {"sh", "bash", "shell"}
PYTHON = {"python", "py"}
# What a block may need from the repository besides examples/.
COPIED = ["examples"]


def misplaced_markers(path, root):
    """Lines that look like the marker but mark no shell or Python block."""
    marked = {block.line - 1 for block in markdown_docs.blocks(path)
              if block.marker == markdown_docs.RUNNABLE and block.language in SHELL | PYTHON}
    problems = []
    for number, line in enumerate(path.read_text(encoding="utf-8").split("\n"), 1):
        text = line.strip()
        looks = text.startswith("<!--") and "runnable" in text and "not runnable" not in text
        if looks and (text != markdown_docs.RUNNABLE or number not in marked):
            problems.append(f"{markdown_docs.shown(path, root)}:{number}: {text} is not right before a ```sh or ```python block")
    return problems


def run(block, root, timeout):
    """Runs one block; returns None, or what went wrong."""
    with tempfile.TemporaryDirectory(prefix="ostrand-docs-") as base:
        base = pathlib.Path(base)
        work, tools, tmp = base / "repo", base / "bin", base / "tmp"
        work.mkdir()
        tmp.mkdir()
        tools.mkdir()
        for name in COPIED:
            shutil.copytree(root / name, work / name)
        # The blocks' python3 is this interpreter: the one NumPy and the package suit.
        (tools / "python3").symlink_to(sys.executable)
        env = dict(os.environ, PATH=f"{tools}{os.pathsep}{os.environ.get('PATH', '')}", TMPDIR=str(tmp),
                   PYTHONDONTWRITEBYTECODE="1")
        script = base / ("block.py" if block.language in PYTHON else "block.sh")
        script.write_text(block.text, encoding="utf-8")
        command = [sys.executable, str(script)] if block.language in PYTHON else ["bash", "-euo", "pipefail", str(script)]
        process = subprocess.Popen(command, cwd=work, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                   stderr=subprocess.STDOUT, start_new_session=True)
        try:
            output, _ = process.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            output, _ = process.communicate()
            return f"ran out of its {timeout:g} s", output
        if process.returncode != 0:
            return f"exit status {process.returncode}", output
        return None, output


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("pages", nargs="*", type=pathlib.Path, help="pages to run (default: README.md and docs/*.md)")
    parser.add_argument("--timeout", type=float, default=180, help="seconds each block may take")
    args = parser.parse_args()
    root = markdown_docs.source_root()
    pages = [page.resolve() for page in args.pages] or markdown_docs.pages(root)
    if shutil.which("ostrand") is None:
        sys.exit("run_blocks.py: ostrand is not on the PATH: put the built command's folder first")

    failures = []
    count = 0
    for page in pages:
        failures += misplaced_markers(page, root)
        for block in markdown_docs.blocks(page):
            if block.marker != markdown_docs.RUNNABLE or block.language not in SHELL | PYTHON:
                continue
            count += 1
            problem, output = run(block, root, args.timeout)
            print(f"{block.where(root)}: {block.language} block: {problem or 'ok'}", flush=True)
            if problem:
                tail = output.decode(errors="replace").rstrip("\n").split("\n")[-20:]
                failures.append(f"{block.where(root)}: the runnable {block.language} block failed ({problem}); "
                                "its last lines:\n    " + "\n    ".join(tail))
    if count == 0:
        failures.append("no block is marked " + markdown_docs.RUNNABLE)
    for failure in failures:
        print(failure, file=sys.stderr)
    print(f"{count} runnable blocks, {len(failures)} problems")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
