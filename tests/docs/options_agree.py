#!/usr/bin/env python3
"""The command's help and docs/command.md agree.

From `ostrand --help` and `ostrand COMMAND --help` for each command: every
option a command's help lists is in the options table of docs/command.md with
that command in its "commands" cell (`any`: an option of ostrand itself, taken
with every command; `alone`: one given without a command), and each row names
exactly the commands whose help lists its options; the ranges ("1 to 1000")
and defaults (`--samples INT=32`) the help gives are in the option's row; the
synopsis names every command, each with options it takes; and a command's help
tells the form of weight map files exactly when the command takes them.

    options_agree.py [--ostrand PATH]     (default: ostrand on the PATH)
"""
import argparse
import re
import shutil
import subprocess
import sys

import markdown_docs

OPTION_LINE = re.compile(r"^  (-[^\s]+)(.*)$")
OPTION_NAME = re.compile(r"(?<![\w-])(--?[A-Za-z][\w-]*)")
RANGE = re.compile(r"(?<![\w.])(-?\d[\d.,]*(?:x\d+)?) to (-?\d[\d.,]*(?:x\d+)?)(?![\w])")
TOP_LEVEL = {"any", "alone"}


def help_of(ostrand, command):
    """{option name: the help's line for it}, the commands the help lists, and its text."""
    arguments = [ostrand] + ([command] if command else []) + ["--help"]
    result = subprocess.run(arguments, capture_output=True, text=True, check=False)
    if result.returncode != 0:
        sys.exit(f"options_agree.py: {' '.join(arguments)} exits {result.returncode}: {result.stderr.strip()}")
    options, commands, section = {}, [], None
    lines = result.stdout.split("\n")
    for number, line in enumerate(lines):
        if line and not line.startswith(" "):
            section = line.rstrip(":")
            continue
        match = OPTION_LINE.match(line)
        if section == "Options" and match:
            text = match.group(2)
            # A long first column puts the description on the next line.
            if number + 1 < len(lines) and lines[number + 1].startswith(" " * 30):
                text += " " + lines[number + 1].strip()
            for name in match.group(1).split(","):
                options[name] = text
        elif section == "Subcommands" and re.match(r"^  \w", line):
            commands.append(line.split()[0])
    return options, commands, result.stdout


def table_rows(page):
    """{option name: (commands cell words, the row's text, line)} of the table headed `| option | commands |`."""
    rows, in_table = {}, False
    for number, line in markdown_docs.prose_lines(page):
        cells = [cell.strip() for cell in line.strip().strip("|").split("|")] if line.startswith("|") else None
        if cells and cells[:2] == ["option", "commands"]:
            in_table = True
        elif in_table and not cells:
            break
        elif in_table and cells and not set(cells[0]) <= set("-: "):
            names = OPTION_NAME.findall(" ".join(re.findall(r"`([^`]*)`", cells[0])))
            for name in dict.fromkeys(names):
                if name in rows:
                    sys.exit(f"options_agree.py: {page}:{number}: {name} has a second row")
                rows[name] = (set(cells[1].split()), line, number)
    return rows


def synopsis(page):
    """{command: the options its lines give} from the first ```sh block under "## Commands" ("": ostrand alone)."""
    heading = next((number for number, line in markdown_docs.prose_lines(page) if line == "## Commands"), None)
    block = next((block for block in markdown_docs.blocks(page)
                  if heading is not None and block.line > heading and block.language == "sh"), None)
    found, command = {}, None
    for line in block.text.split("\n") if block else []:
        words = line.split()
        if words[:1] == ["ostrand"] and len(words) > 1:
            command = "" if words[1].startswith("-") else words[1]
            found.setdefault(command, set())
        if command is not None:
            found[command] |= set(OPTION_NAME.findall(line))
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--ostrand", default=shutil.which("ostrand"), help="the command (default: ostrand on the PATH)")
    args = parser.parse_args()
    if not args.ostrand:
        sys.exit("options_agree.py: ostrand is not on the PATH; give --ostrand")
    root = markdown_docs.source_root()
    page = root / "docs" / "command.md"
    where = markdown_docs.shown(page, root)

    top, commands, _ = help_of(args.ostrand, None)
    texts = {command: help_of(args.ostrand, command) for command in commands}
    helps = {command: options for command, (options, _, _) in texts.items()}
    rows = table_rows(page)
    problems = []
    if not rows:
        problems.append(f"{where}: no options table (a header | option | commands | meaning |)")

    # Every option of every help, in the table for that command.
    for command, options in [("", top)] + list(helps.items()):
        for name in options:
            shown = f"ostrand {command} --help".replace("  ", " ")
            if name not in rows:
                problems.append(f"{where}: {name} (in `{shown}`) is not in the options table")
                continue
            cell, _, number = rows[name]
            if command and name not in top and command not in cell:
                problems.append(f"{where}:{number}: {name}: `{shown}` lists it, the row's commands do not name {command}")

    # The weight map files told of by the helps of the commands that take them, only.
    for command, (options, _, text) in texts.items():
        takes = "--setup-weights" in options or "--blend-weights" in options
        told = "Weight map files" in text
        if takes and not told:
            problems.append(f"`ostrand {command} --help`: {command} takes weight map files, its help does not tell their form")
        elif told and not takes:
            problems.append(f"`ostrand {command} --help` tells of weight map files, which {command} does not take")

    # Every row: exactly the commands whose help lists it.
    for name, (cell, _, number) in rows.items():
        takers = {command for command, options in helps.items() if name in options}
        if cell & TOP_LEVEL:
            if name not in top:
                problems.append(f"{where}:{number}: {name}: `ostrand --help` does not list it")
        elif cell != takers:
            problems.append(f"{where}:{number}: {name}: the row names {' '.join(sorted(cell)) or 'no command'}; "
                            f"the helps list it for {' '.join(sorted(takers)) or 'none'}")

    # The help's ranges and defaults, in the option's row.
    for command, options in [("", top)] + list(helps.items()):
        for name, text in options.items():
            if name not in rows:
                continue
            _, row, number = rows[name]
            for low, high in RANGE.findall(text):
                if not re.search(r"(?<![\w.])" + re.escape(f"{low} to {high}") + r"(?![\w.])", row):
                    problems.append(f"{where}:{number}: {name}: the help gives {low} to {high}, the row does not")
            default = re.match(r"^\s*\S*=(\S+)", text)
            if default and "/" not in default.group(1):
                value = re.escape(default.group(1))
                if not re.search(r"default[^|]*?(?<![\w.])`?" + value + r"`?(?![\w.])", row):
                    problems.append(f"{where}:{number}: {name}: the help's default is {default.group(1)}, "
                                    "the row does not give it")

    # The synopsis: every command, each with options it takes.
    lines = synopsis(page)
    for command in commands:
        if command not in lines:
            problems.append(f"{where}: the synopsis under ## Commands has no line for `ostrand {command}`")
    for command, names in lines.items():
        accepted = top if not command else helps.get(command)
        if accepted is None:
            problems.append(f"{where}: the synopsis gives `ostrand {command}`, which is no command")
            continue
        for name in sorted(names - set(accepted) - set(top)):
            problems.append(f"{where}: the synopsis gives {name} to `ostrand {command}`, whose help does not list it")

    problems = list(dict.fromkeys(problems))  # an option in several helps is told once
    for problem in problems:
        print(problem, file=sys.stderr)
    print(f"{len(rows)} options in the table, {len(commands)} commands; {len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
