#!/usr/bin/env python3
"""The documentation's links lead somewhere: every relative link of README.md
and docs/*.md names a file or folder of the repository, and a #fragment a
heading of the page it names; README.md links every page in docs/."""
import re
import sys
import urllib.parse

import markdown_docs


def main():
    root = markdown_docs.source_root()
    pages = markdown_docs.pages(root)
    problems = []
    linked = set()
    for page in pages:
        where = markdown_docs.shown(page, root)
        for number, line in markdown_docs.prose_lines(page):
            # Code spans may hold text that only looks like a link.
            for target in markdown_docs.LINK.findall(re.sub(r"`[^`]*`", "", line)):
                if re.match(r"^[a-z][a-z+.-]*:", target):  # http:, mailto: ...
                    continue
                path_part, _, fragment = target.partition("#")
                named = (page.parent / urllib.parse.unquote(path_part)).resolve() if path_part else page
                if not named.exists():
                    problems.append(f"{where}:{number}: {target}: no such file")
                    continue
                if not named.is_relative_to(root):
                    problems.append(f"{where}:{number}: {target}: outside the repository")
                    continue
                if page.name == "README.md":
                    linked.add(named)
                if fragment and (named.suffix != ".md" or fragment not in markdown_docs.anchors(named)):
                    problems.append(f"{where}:{number}: {target}: {markdown_docs.shown(named, root)} has no heading "
                                    f"#{fragment}")
    for page in pages[1:]:
        if page not in linked:
            problems.append(f"README.md: does not link {markdown_docs.shown(page, root)}")
    for problem in problems:
        print(problem, file=sys.stderr)
    print(f"{len(pages)} pages; {len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
