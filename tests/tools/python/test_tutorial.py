"""docs/tutorial.md holds: every ```sh block, in order, in one bash in a
scratch folder set up as the tutorial's "Before you start" says (the build
and tools/ on PATH, QV the checkout), ends with status 0, and every line of
the ```output block under a command block appears in what that block
printed (standard output and error together), in order; "..." in an output
line stands for any text."""

import os
import re
import subprocess

import pytest

from conftest import ROOT, require_shared

TUTORIAL = ROOT / "docs" / "tutorial.md"
REALMT = ROOT.parent / "shared" / "data" / "realmt"
FENCE = re.compile(r"^```(\w*)\n(.*?)^```\s*$", re.M | re.S)
MARK = "@@tutorial-block"


def blocks():
    """[(command text, [expected lines], line number of the block)] in order."""
    text = TUTORIAL.read_text()
    out = []
    for m in FENCE.finditer(text):
        kind, body = m.group(1), m.group(2)
        line = text.count("\n", 0, m.start()) + 1
        if kind == "sh":
            out.append((body, [], line))
        elif kind == "output":
            assert out, f"tutorial.md:{line}: an output block before any command block"
            out[-1][1].extend(x for x in body.splitlines() if x.strip())
    return out


def pattern(line):
    return re.compile(".*".join(re.escape(part) for part in line.strip().split("...")))


def test_every_command_of_the_tutorial_runs_and_prints_what_it_shows(build_dir, short_tmp):
    # The tutorial's station folders name their recording by its absolute folder.
    tmp_path = short_tmp
    require_shared(REALMT / "SA225-2_20180518T010000Z_10Hz_EX_EY_BX_BY_BZ_uV.asc")
    steps = blocks()
    assert len(steps) >= 10 and all(expect for _, expect, _ in steps[1:4]), "the tutorial lost its commands"
    script = ["set -e -o pipefail"]
    for i, (body, _, _) in enumerate(steps):
        script += [f"echo {MARK} {i}", body]
    env = dict(os.environ, QV=str(ROOT), PATH=f"{build_dir}:{ROOT / 'tools'}:{os.environ['PATH']}")
    run = subprocess.run(["bash", "-c", "\n".join(script)], cwd=tmp_path, env=env, stdin=subprocess.DEVNULL,
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=120)
    printed = {}
    current = None
    for line in run.stdout.splitlines():
        m = re.fullmatch(rf"{MARK} (\d+)", line)
        if m:
            current = int(m.group(1))
            printed[current] = []
        elif current is not None:
            printed[current].append(line)
    if run.returncode != 0:
        last = max(printed, default=0)
        pytest.fail(f"tutorial.md:{steps[last][2]}: the block ends with status {run.returncode}:\n"
                    f"{steps[last][0]}\n--- it printed:\n" + "\n".join(printed.get(last, [])[-40:]))
    assert sorted(printed) == list(range(len(steps)))
    for i, (body, expect, line) in enumerate(steps):
        got, at = printed[i], 0
        for want in expect:
            p = pattern(want)
            while at < len(got) and not p.search(got[at]):
                at += 1
            assert at < len(got), (f"tutorial.md:{line}: the block does not print (in this order) {want!r}:\n"
                                   f"{body}\n--- it printed:\n" + "\n".join(got[-60:]))
            at += 1
