#!/usr/bin/env python3
"""check_docs.py: every relative link of README.md and docs/*.md points at a file of the tree,
and every #anchor at a heading of its page (headings turned into anchors as the repository's
web view does: lower case, punctuation dropped, spaces to hyphens, repeats numbered); and the
README gives the test command exactly as CI runs it (the command .ci/run executes).
   scripts/check_docs.py [ROOT]    (default: the repository)    exit 1 with a list when not."""
import os
import re
import sys

root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), ".."))
LINK = re.compile(r"!?\[(?:[^\[\]]|\[[^\]]*\])*\]\(\s*<?([^)\s>]+)>?(?:\s+\"[^\"]*\")?\s*\)", re.S)


def strip_code(text):
    """The text without fenced blocks and inline code, where brackets are not links."""
    text = re.sub(r"^```.*?^```", "", text, flags=re.S | re.M)
    return re.sub(r"`[^`\n]*`", "", text)


def anchors(path):
    seen, out = {}, set()
    fenced = False
    for line in open(path, encoding="utf-8"):
        if line.startswith("```"):
            fenced = not fenced
            continue
        m = None if fenced else re.match(r"^#{1,6}\s+(.*?)\s*#*\s*$", line)
        if not m:
            continue
        slug = re.sub(r"[^\w\- ]", "", m.group(1).strip().lower()).replace(" ", "-")
        n = seen.get(slug, 0)
        seen[slug] = n + 1
        out.add(slug if n == 0 else f"{slug}-{n}")
    return out


pages = [os.path.join(root, "README.md")]
docs = os.path.join(root, "docs")
pages += sorted(os.path.join(docs, f) for f in os.listdir(docs) if f.endswith(".md"))
problems, count = [], 0
for page in pages:
    text = strip_code(open(page, encoding="utf-8").read())
    for target in LINK.findall(text):
        if re.match(r"^[a-z][a-z0-9+.-]*:", target):  # http:, mailto: and the like
            continue
        count += 1
        where = os.path.relpath(page, root)
        path, _, anchor = target.partition("#")
        dest = os.path.normpath(os.path.join(os.path.dirname(page), path)) if path else page
        if not os.path.exists(dest):
            problems.append(f"{where}: {target}: no such file")
        elif anchor and (not dest.endswith(".md") or anchor not in anchors(dest)):
            problems.append(f"{where}: {target}: no heading #{anchor} in {os.path.relpath(dest, root)}")
ci = os.path.join(root, ".ci", "run")
if os.path.exists(ci):
    runs = re.findall(r"^\s*exec\s+(.+?)\s*$", open(ci, encoding="utf-8").read(), re.M)
    readme = open(pages[0], encoding="utf-8").read()
    if not runs:
        problems.append(".ci/run: no exec line to compare the README's test command with")
    elif f"`{runs[-1]}`" not in readme and not re.search(rf"^{re.escape(runs[-1])}(\s|$)", readme, re.M):
        problems.append(f"README.md: does not give CI's test command `{runs[-1]}`")
for p in problems:
    print(p)
print(f"check_docs.py: {count} relative links in {len(pages)} pages; {len(problems)} problems")
sys.exit(1 if problems else 0)
