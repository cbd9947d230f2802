#!/usr/bin/env python3
"""Checks the rendered user manual as a reader gets it: the PDF has its title, enough pages, every
heading of the Markdown source in the same order, and every picture of the source, each placed
within its own section. The headings and pictures are taken from the source, so new chapters and
screenshots are covered as they are written.

    manual_pdf_check.py MANUAL.md MANUAL.pdf
"""
import re
import subprocess
import sys
import unicodedata
from pathlib import Path

MIN_PAGES = 5


def run(*args):
    return subprocess.run(args, check=True, capture_output=True, text=True, timeout=60).stdout


def normal(text):
    """Text as compared: ligatures unfolded, markup gone, blanks collapsed."""
    text = unicodedata.normalize("NFKC", text)
    text = re.sub(r"[*_`]", "", text)
    return " ".join(text.split())


def outline(markdown):
    """The headings and pictures of the source, in order: ('heading', text) and ('picture', path)."""
    items, fenced = [], False
    for line in markdown.splitlines():
        if line.startswith("```"):
            fenced = not fenced
            continue
        if fenced:
            continue
        if m := re.match(r"(#{1,4})\s+(.*\S)", line):
            items.append(("heading", normal(m.group(2))))
        for m in re.finditer(r"!\[[^\]]*\]\(([^)\s]+)", line):
            items.append(("picture", m.group(1)))
    return items


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    md, pdf = Path(sys.argv[1]), Path(sys.argv[2])
    failures = []

    info = dict(line.split(":", 1) for line in run("pdfinfo", str(pdf)).splitlines() if ":" in line)
    pages = int(info["Pages"])
    if info.get("Title", "").strip() != "KT-MON740 User Manual":
        failures.append(f"title is {info.get('Title', '').strip()!r}")
    if pages < MIN_PAGES:
        failures.append(f"{pages} pages, fewer than {MIN_PAGES}")
    page_text = [normal(run("pdftotext", "-f", str(p), "-l", str(p), str(pdf), "-")) for p in range(1, pages + 1)]
    for number, text in enumerate(page_text, 1):
        if not text:
            failures.append(f"page {number} is empty")

    # Pictures in the PDF by page, as pdfimages lists them (after two header lines).
    picture_pages = [int(row.split()[0]) for row in run("pdfimages", "-list", str(pdf)).splitlines()[2:]]

    # Walk the source: each heading must come after the previous one in the PDF's text; each
    # picture must be on a page between its heading and the next.
    items = outline(md.read_text(encoding="utf-8"))
    page, offset = 1, 0
    pictures_seen = 0
    pending = []  # pictures of the current section: (path, first page they may be on)
    for kind, value in items:
        if kind == "picture":
            pending.append((value, page))
            continue
        found = None
        for p in range(page, pages + 1):
            at = page_text[p - 1].find(value, offset if p == page else 0)
            if at >= 0:
                found = (p, at + len(value))
                break
        if found is None:
            failures.append(f"heading {value!r} is missing (or out of order) after page {page}")
            continue
        for path, first in pending:
            if pictures_seen >= len(picture_pages):
                failures.append(f"picture {path} is missing")
            elif not first <= picture_pages[pictures_seen] <= found[0]:
                failures.append(f"picture {path} is on page {picture_pages[pictures_seen]}, "
                                f"outside its section (pages {first}-{found[0]})")
            pictures_seen += 1
        pending = []
        page, offset = found
    for path, first in pending:
        if pictures_seen >= len(picture_pages):
            failures.append(f"picture {path} is missing")
        elif picture_pages[pictures_seen] < first:
            failures.append(f"picture {path} is on page {picture_pages[pictures_seen]}, before its section")
        pictures_seen += 1
    if len(picture_pages) != pictures_seen:
        failures.append(f"the PDF has {len(picture_pages)} pictures, the source {pictures_seen}")

    headings = sum(1 for kind, _ in items if kind == "heading")
    for failure in failures:
        print("FAIL", failure)
    print(f"manual: {pages} pages, {headings} headings, {pictures_seen} pictures, {len(failures)} problems")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
