"""Every example file in docs/ is read by the program without error.

An example file is a fenced block preceded by a line

    <!-- file: STATION/PATH [key=value ...] -->

The examples are put together into one folder per STATION:

- a station with a system parameter file (site1) is run: a synthetic recording
  with the timing of its .clk file, once with the three header lines (-A) and
  once without them, the timing then coming from the .clk file (-a); its
  response files are read through build/response_table and give the response
  they describe;
- the response tables of the station "tables" (key filter=CODE) get a system
  parameter file with one channel per table and the set-up of site1, and are
  read through build/response_table: all describe the same coil, so each must
  give its response at 10 Hz;
- decset.cfg and pwset.cfg with keys rate= and hours= must be what
  tools/qv-new-station writes for that rate and duration (the documentation
  and the generator describe one set-up), and are read through
  build/response_table.
"""

import cmath
import csv
import glob
import io
import math
import os
import re
import shutil

import pytest

from station_support import (DOCS, FreeFormat, fcdump_levels, generate, program, read_decset, read_pwset, run,
                             write_recording)

MARKER = re.compile(r"^<!-- file: (\S+)((?:\s+\w+=\S+)*)\s*-->\n```[^\n]*\n(.*?)^```", re.M | re.S)

# The coil all response examples describe: 800 uV/nT above a corner at 1 Hz.
COIL_AT_10HZ = 800 * (1j * 10) / (1 + 1j * 10)


def examples():
    """{station: {path: (text, attributes, document)}}"""
    out = {}
    for doc in sorted(glob.glob(os.path.join(DOCS, "*.md"))):
        with open(doc) as f:
            text = f.read()
        for m in MARKER.finditer(text):
            path, attrs, body = m.group(1), m.group(2), m.group(3)
            station, _, rel = path.partition("/")
            keys = dict(a.split("=", 1) for a in attrs.split())
            files = out.setdefault(station, {})
            assert rel not in files, "%s is given twice in docs/" % path
            files[rel] = (body, keys, os.path.basename(doc))
        # A marker whose block does not follow at once would be skipped silently.
        assert text.count("<!-- file: ") == len(MARKER.findall(text)), "a marker in %s has no block under it" % doc
    return out


EXAMPLES = examples()


def put(folder, files):
    for rel, (body, _, _) in files.items():
        path = os.path.join(folder, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as f:
            f.write(body)


def response_csv(folder, name):
    res = run([program("response_table"), "-f:" + name], cwd=folder)
    assert res.returncode == 0, res.stderr[-3000:]
    return list(csv.DictReader(io.StringIO(res.stdout)))


def response_at(rows, channel, level, findex, filt=1):
    for r in rows:
        if int(r["channel"]) == channel and int(r["level"]) == level and int(r["findex"]) == findex:
            amp = float(r["filter%d_amplitude" % filt])
            return r["filter%d" % filt], cmath.rect(amp, math.radians(float(r["filter%d_phase_deg" % filt])))
    raise AssertionError("no row for channel %d, level %d, frequency index %d" % (channel, level, findex))


def pole_zero(line, f):
    """The response of a pole-zero line at f Hz, computed here from its text."""
    tok = line.split()
    nz, npl, k = int(tok[0]), int(tok[1]), float(tok[2])
    values = [complex(*map(float, v.strip("()").split(","))) for v in re.findall(r"\([^)]*\)", line)]
    s = 2j * math.pi * f
    h = k
    for z in values[:nz]:
        h *= s - z
    for p in values[nz:nz + npl]:
        h /= s - p
    return h


def test_every_example_station_is_checked():
    known = {"site1", "tables"}
    for station, files in EXAMPLES.items():
        if station in known:
            continue
        assert all("rate" in keys and "hours" in keys for _, keys, _ in files.values()), \
            "example station %s: no check knows what to do with it" % station
    assert "site1" in EXAMPLES and "tables" in EXAMPLES


def test_example_station_runs(tmp_path):
    files = EXAMPLES["site1"]
    folder = str(tmp_path / "site1")
    put(folder, files)
    qel_vort, fcdump = program("qel_vort"), program("fcdump")
    clk = FreeFormat(os.path.join(folder, "site1.clk"))
    (dt,) = clk.read(1)
    start, reference = clk.read(6, int), clk.read(6, int)
    rate = 1.0 / dt
    n = int(600 * rate)  # ten minutes: every level up to 4 gets windows, and the bad stretch lies inside

    write_recording(os.path.join(folder, "site1.asc"), rate, n, 5, start, reference)
    res = run([qel_vort, "-A", "-f:site1.asc"], cwd=folder)
    assert res.returncode == 0, res.stdout[-3000:] + res.stderr
    assert "bdecsu: ioff, cfbr 0" in res.stdout                       # the bad-record file was read
    assert re.search(r"^ bad F T ", res.stdout, re.M), "no window was rejected by the bad-record file"
    assert "98-cfrsp: sensors/coil.rsp" in res.stdout
    levels = fcdump_levels(run([fcdump, os.path.join(folder, "site1.f5")], cwd=folder).stdout)
    assert len(levels) == len(read_decset(os.path.join(folder, "decset.cfg"))[0])
    assert levels[1] > 0

    # The same samples without header lines take their timing from site1.clk.
    write_recording(os.path.join(folder, "site1.txt"), rate, n, 5, start, reference, header=False)
    res = run([qel_vort, "-a", "-f:site1.txt"], cwd=folder)
    assert res.returncode == 0, res.stdout[-3000:] + res.stderr
    assert "Reading clock reset information from .clk file" in res.stdout

    # The coil table and the pole-zero line describe the coil they say.
    rows = response_csv(folder, "site1.asc")
    nwin = read_decset(os.path.join(folder, "decset.cfg"))[0][0]["nwin"]
    findex = round(10.0 * nwin * dt)  # the harmonic of level 1 at 10 Hz
    assert [float(r["freq_hz"]) for r in rows if (r["channel"], r["level"], r["findex"]) == ("3", "1", str(findex))] \
        == [10.0]
    code, h = response_at(rows, 3, 1, findex)
    assert code == "RI" and abs(h - COIL_AT_10HZ) < 0.01 * abs(COIL_AT_10HZ)
    sp = files["site1.sp"][0].splitlines()
    pz_line = sp[sp.index(next(l for l in sp if l.startswith("pz"))) + 1]
    code, h = response_at(rows, 5, 1, findex)
    assert code == "pz" and abs(h - pole_zero(pz_line, 10.0)) < 1e-3 * abs(h)
    assert abs(abs(h) - abs(COIL_AT_10HZ)) < 0.01 * abs(COIL_AT_10HZ)


def test_response_table_examples_give_their_response(tmp_path):
    tables = EXAMPLES["tables"]
    folder = str(tmp_path / "tables")
    put(folder, tables)
    for name in ("paths.cfg", "decset.cfg", "pwset.cfg"):
        put(folder, {name: EXAMPLES["site1"][name]})
    entries = sorted((rel, keys["filter"]) for rel, (_, keys, _) in tables.items() if "filter" in keys)
    assert entries and len(entries) == len(tables), "every table example names its filter code"
    assert len(entries) <= 5
    lines = ["TABLES", "0.0 0.0", "1.0", str(len(entries)), "0.0078125", "0.0 0.0"]
    for k, (rel, code) in enumerate(entries, 1):
        name = os.path.relpath(rel, "sensors")
        lines += ["T%d" % k, "0.0 0.0", "1.0 1", code, name + (" 1 1" if code.upper() == "TE" else "")]
    with open(os.path.join(folder, "tables.sp"), "w") as f:
        f.write("\n".join(lines) + "\n")

    rows = response_csv(folder, "tables")
    for k, (rel, code) in enumerate(entries, 1):
        got_code, h = response_at(rows, k, 1, 10)  # 10 Hz
        assert got_code == code
        if code.upper() == "PZ":
            with open(os.path.join(folder, rel)) as f:
                want = pole_zero(f.readline(), 10.0)
        else:
            want = COIL_AT_10HZ
        assert abs(h - want) < 0.01 * abs(want), "%s (%s): %s at 10 Hz, expected %s" % (rel, code, h, want)
        # and the poles and zeros describe the coil the tables do (their 200 Hz pole aside)
        assert abs(abs(h) - abs(COIL_AT_10HZ)) < 0.01 * abs(COIL_AT_10HZ), "%s (%s): |H| = %g at 10 Hz" % (
            rel, code, abs(h))


@pytest.mark.parametrize("station", sorted(s for s, files in EXAMPLES.items()
                                           if any("rate" in keys for _, keys, _ in files.values())))
def test_set_up_examples_are_the_generators(tmp_path, station):
    files = {rel: v for rel, v in EXAMPLES[station].items() if "rate" in v[1]}
    rates = {(v[1]["rate"], v[1]["hours"]) for v in files.values()}
    assert len(rates) == 1, "%s: the examples name different rates or durations" % station
    rate, hours = rates.pop()
    folder = tmp_path / "gen"
    generate(folder, "--rate", rate, "--hours", hours, "--channels", "Ex,Ey,Hx,Hy,Hz", "--name", "gen")
    docs = str(tmp_path / "docs")
    put(docs, files)
    for rel in files:
        ours, theirs = os.path.join(docs, rel), str(folder / rel)
        if rel == "decset.cfg":
            assert read_decset(ours) == read_decset(theirs), "%s/decset.cfg is not what the generator writes" % station
        elif rel == "pwset.cfg":
            assert read_pwset(ours) == read_pwset(theirs), "%s/pwset.cfg is not what the generator writes" % station
        else:
            pytest.fail("%s/%s: only decset.cfg and pwset.cfg are compared with the generator" % (station, rel))
        shutil.copyfile(ours, theirs)
    rows = response_csv(str(folder), "gen")
    assert rows, "no response rows"
