"""The documentation's Markdown as the docs tests read it: its pages, their
fenced blocks with the marker comment before each, their headings and links."""
import dataclasses
import os
import pathlib
import re
from typing import Iterator, List, Optional

RUNNABLE = "<!-- runnable -->"
FENCE = re.compile(r"^(```+|~~~+)\s*([\w+-]*)\s*$")
HEADING = re.compile(r"^(#{1,6})\s+(.*?)\s*#*\s*$")
LINK = re.compile(r"(?<!!)\[[^\]]*\]\(([^)\s]+)\)")
COMMENT = re.compile(r"^<!--.*-->$")


@dataclasses.dataclass
class Block:
    """A fenced block: the file and the 1-based line of its opening fence."""

    path: pathlib.Path
    line: int
    language: str
    text: str
    marker: Optional[str]  # the HTML comment on the line right before the fence

    def where(self, root: pathlib.Path) -> str:
        return f"{shown(self.path, root)}:{self.line}"


def shown(path: pathlib.Path, root: pathlib.Path) -> str:
    """A page's name as messages give it: from the repository's root when inside it."""
    return str(path.relative_to(root)) if path.is_relative_to(root) else str(path)


def source_root() -> pathlib.Path:
    """The repository: $OSTRAND_SOURCE_DIR, else the one holding these tests."""
    named = os.environ.get("OSTRAND_SOURCE_DIR")
    return pathlib.Path(named).resolve() if named else pathlib.Path(__file__).resolve().parents[2]


def pages(root: pathlib.Path) -> List[pathlib.Path]:
    """README.md and every page in docs/."""
    return [root / "README.md"] + sorted((root / "docs").glob("*.md"))


def blocks(path: pathlib.Path) -> Iterator[Block]:
    """Every fenced block of a page, in order; an unclosed fence ends the page."""
    lines = path.read_text(encoding="utf-8").split("\n")
    number = 0
    while number < len(lines):
        opening = FENCE.match(lines[number])
        if not opening:
            number += 1
            continue
        before = lines[number - 1].strip() if number > 0 else ""
        fence = opening.group(1)
        end = number + 1
        while end < len(lines) and not lines[end].startswith(fence):
            end += 1
        yield Block(path, number + 1, opening.group(2), "\n".join(lines[number + 1:end]) + "\n",
                    before if COMMENT.match(before) else None)
        number = end + 1


def prose_lines(path: pathlib.Path) -> Iterator[tuple]:
    """(line number, text) of the lines outside fenced blocks."""
    fence = None
    for number, line in enumerate(path.read_text(encoding="utf-8").split("\n"), 1):
        opening = FENCE.match(line)
        if fence is None and opening:
            fence = opening.group(1)
        elif fence is not None and line.startswith(fence):
            fence = None
        elif fence is None:
            yield number, line


def anchor(heading: str) -> str:
    """The anchor a heading gets: lower case, punctuation dropped, spaces as hyphens."""
    text = re.sub(r"[`*_]|\[([^\]]*)\]\([^)]*\)", r"\1", heading).strip().lower()
    return re.sub(r"[^\w\- ]", "", text).replace(" ", "-")


def anchors(path: pathlib.Path) -> List[str]:
    """The anchors of a page's headings; a repeated one gets -1, -2, ..."""
    seen = {}
    found = []
    for _, line in prose_lines(path):
        heading = HEADING.match(line)
        if not heading:
            continue
        name = anchor(heading.group(2))
        count = seen.get(name, 0)
        seen[name] = count + 1
        found.append(name if count == 0 else f"{name}-{count}")
    return found
