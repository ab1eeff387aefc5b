"""What the station tests share: where the programs are, synthetic recordings,
and readers of the set-up files and of fcdump's level table.

The build folder is QV_BUILD_DIR (default: build), relative to the repository
root unless absolute.
"""

import os
import re
import subprocess

import numpy as np
import pytest

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", ".."))
GENERATOR = os.path.join(REPO, "tools", "qv-new-station")
DOCS = os.path.join(REPO, "docs")


def build_dir():
    d = os.environ.get("QV_BUILD_DIR", "build")
    return d if os.path.isabs(d) else os.path.join(REPO, d)


def program(name):
    path = os.path.join(build_dir(), name)
    if not os.access(path, os.X_OK):
        pytest.fail("%s is not built (looked for %s; QV_BUILD_DIR names the build folder)" % (name, path))
    return path


def run(cmd, cwd, timeout=300):
    """Runs a command with an empty standard input (a prompt gets the end of input)."""
    return subprocess.run(cmd, cwd=cwd, input="", capture_output=True, text=True, timeout=timeout)


def generate(folder, *args):
    res = run([GENERATOR, "--dir", str(folder), *args], cwd=os.path.dirname(str(folder)))
    assert res.returncode == 0, "qv-new-station failed:\n" + res.stderr
    return res


def write_recording(path, rate, n, nch, start, reference, seed=1, header=True, sine=None):
    """A generic ASCII recording of n samples: red noise plus white noise on every
    channel, and optionally a sinusoid (channel index, frequency in Hz, amplitude)."""
    rng = np.random.default_rng(seed)
    x = np.cumsum(rng.standard_normal((n, nch)), axis=0) * 0.05 + rng.standard_normal((n, nch))
    if sine is not None:
        ch, freq, amp = sine
        x[:, ch] += amp * np.sin(2.0 * np.pi * freq * np.arange(n) / rate)
    with open(path, "w") as f:
        if header:
            f.write("%r\n%s\n%s\n" % (1.0 / rate, " ".join(map(str, start)), " ".join(map(str, reference))))
        np.savetxt(f, x, fmt="%.3f")


class FreeFormat:
    """The free-format reads of the set-up files: a read starts on a new line,
    takes its values from as many lines as it needs and ignores the rest of
    its last line."""

    def __init__(self, path):
        with open(path) as f:
            self.lines = f.read().splitlines()
        self.at = 0
        self.path = path

    def read(self, count, kinds=float):
        out = []
        while len(out) < count:
            assert self.at < len(self.lines), "%s ends before a read of %d values" % (self.path, count)
            for tok in self.lines[self.at].replace(",", " ").split():
                if len(out) == count:
                    break
                out.append(kinds(tok))
            self.at += 1
        return out


def read_decset(path):
    """The levels of a decset.cfg as dicts, and levoff."""
    r = FreeFormat(path)
    nd, levoff = r.read(2, int)
    levels = []
    for _ in range(nd):
        nwin, olap, decfac, iphase, ianchor, nspan, nbadmx, nfreq, nfc = r.read(9, float)
        taps = r.read(int(nfc)) if nfc > 0 else r.read(1, str)
        levels.append(dict(nwin=int(nwin), olap=olap, decfac=int(decfac), iphase=int(iphase), ianchor=int(ianchor),
                           nspan=int(nspan), nbadmx=int(nbadmx), nfreq=int(nfreq), nfc=int(nfc), taps=taps))
    return levels, levoff


def read_pwset(path):
    r = FreeFormat(path)
    (n,) = r.read(1, int)
    return [r.read(1, int)[0] for _ in range(n)]


def fcdump_levels(text):
    """{level: windows} from the level table of `fcdump FILE`."""
    out = {}
    for m in re.finditer(r"^\s+(-?\d+)\s+(\d+)\s+[0-9.eE+-]+\s+(\d+)\s+(\d+)\s+(\d+)\s+(\d+)\s*$", text, re.M):
        out[int(m.group(1))] = int(m.group(5))
    return out
