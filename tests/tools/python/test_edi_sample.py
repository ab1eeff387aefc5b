"""The SEG EDI file qel_tf writes for the bundled sample station, read back by
a reader of its own (nothing of the project's code is used to parse it):
the blocks and their order, the counts, units and sign convention, and the
numbers against the .tf.csv and .tf.json written beside it; then qv-plot tf
draws it."""

import csv
import json
import math
import re
import subprocess
import sys

import pytest

from conftest import ROOT

DATA_BLOCKS = ["FREQ", "ZROT"] + [f"Z{e}{p}" for e in ("XX", "XY", "YX", "YY") for p in ("R", "I", ".VAR")] + [
    "TROT", "TXR.EXP", "TXI.EXP", "TXVAR.EXP", "TYR.EXP", "TYI.EXP", "TYVAR.EXP"]


def read_edi(path):
    """Blocks in file order: (name, options text, body lines, numbers or None)."""
    blocks = []
    for line in path.read_text().splitlines():
        if line.startswith(">"):
            head = line[1:].strip()
            name, _, rest = head.partition(" ")
            blocks.append({"name": name.upper(), "options": rest, "lines": [], "count": None})
            m = re.search(r"//\s*(\d+)", rest)
            if m:
                blocks[-1]["count"] = int(m.group(1))
                blocks[-1]["values"] = []
        elif blocks and line.strip():
            b = blocks[-1]
            b["lines"].append(line.strip())
            if b["count"] is not None:
                b["values"] += [float(v.replace("D", "E").replace("d", "e")) for v in line.split()]
    return blocks


def keywords(block):
    out = {}
    for text in [block["options"]] + block["lines"]:
        for m in re.finditer(r'(\w+)=("[^"]*"|\S+)', text):
            out[m.group(1).upper()] = m.group(2).strip('"')
    return out


@pytest.fixture(scope="module")
def written(build_dir, sample_f5, tmp_path_factory):
    out = tmp_path_factory.mktemp("edi_sample") / "sample"
    run = subprocess.run([str(build_dir / "qel_tf"), str(sample_f5), "-o", str(out)], stdin=subprocess.DEVNULL,
                         capture_output=True, text=True)
    assert run.returncode == 0, run.stdout + run.stderr
    rows = list(csv.DictReader(open(f"{out}.tf.csv", newline="")))
    return out, read_edi(out.with_suffix(".edi")), rows, json.load(open(f"{out}.tf.json"))


def test_blocks_counts_units_and_sign_convention(written):
    _, blocks, rows, _ = written
    names = [b["name"] for b in blocks]
    meas = [i for i, n in enumerate(names) if n in ("HMEAS", "EMEAS")]
    assert names[:3] == ["HEAD", "INFO", "=DEFINEMEAS"] and names[-1] == "END"
    assert meas == list(range(3, 3 + len(meas))) and names[3 + len(meas)] == "=MTSECT"
    assert names[4 + len(meas):-1] == DATA_BLOCKS

    head = keywords(blocks[0])
    assert head["STDVERS"] == "SEG 1.0" and head["DATAID"] == "SAMPLE" and head["FILEBY"].startswith("qel_tf ")
    assert re.fullmatch(r"-?\d+:\d+:\d+(\.\d+)?", head["LAT"]) and re.fullmatch(r"-?\d+:\d+:\d+(\.\d+)?", head["LONG"])
    d, m, s = (float(v) for v in head["LAT"].lstrip("-").split(":"))
    assert -(d + m / 60 + s / 3600) == pytest.approx(-31.5, abs=1e-4)
    info = [line.replace(" ", "") for line in blocks[1]["lines"]]
    assert "SIGNCONVENTION=exp(+i\\omegat)" in info and "Z_UNITS=(mV/km)/nT" in info
    assert int(keywords(blocks[1])["MAXLINES"]) == len(blocks[1]["lines"])

    # Every channel the section names is a measurement of the file.
    ids = {keywords(blocks[i])["ID"]: keywords(blocks[i])["CHTYPE"] for i in meas}
    sect = keywords(blocks[3 + len(meas)])
    assert {sect[c]: c for c in ("HX", "HY", "HZ", "EX", "EY")} == ids
    nfreq = int(sect["NFREQ"])
    assert nfreq == len(rows) > 5
    for b in blocks[4 + len(meas):-1]:
        assert b["count"] == nfreq == len(b["values"]), b["name"]
    freq = next(b for b in blocks if b["name"] == "FREQ")["values"]
    assert all(a > b for a, b in zip(freq, freq[1:]))


def close(edi_value, exact):
    """The EDI prints 7 significant digits (E format, 6 decimals)."""
    return edi_value == pytest.approx(exact, rel=6e-7, abs=1e-300)


def test_numbers_are_those_of_the_tables(written):
    _, blocks, rows, doc = written
    v = {b["name"]: b["values"] for b in blocks if b["count"]}
    # The tables run from short to long periods, the EDI from high to low frequency.
    bands = doc["bands"]
    for i, (row, band) in enumerate(zip(rows, bands)):
        assert close(v["FREQ"][i], float(row["frequency_hz"])) and close(v["FREQ"][i], band["frequency_hz"])
        period = float(row["period_s"])
        for e in ("xx", "xy", "yx", "yy"):
            E = e.upper()
            z = complex(v[f"Z{E}R"][i], v[f"Z{E}I"][i])
            assert close(z.real, float(row[f"z{e}_re"])) and close(z.imag, float(row[f"z{e}_im"]))
            el = band["impedance"][f"z{e}"]
            assert close(v[f"Z{E}.VAR"][i], el["var"])
            assert math.sqrt(v[f"Z{E}.VAR"][i] / 2) == pytest.approx(float(row[f"z{e}_se"]), rel=1e-6)
            # rho_a = 0.2 T |Z|^2 from the EDI's own numbers: 7 digits each.
            assert 0.2 * period * abs(z) ** 2 == pytest.approx(float(row[f"rhoa_{e}"]), rel=3e-6)
            assert math.degrees(math.atan2(z.imag, z.real)) == pytest.approx(float(row[f"phase_{e}"]),
                                                                             abs=1e-4 + 2e-6 * 180)
        for t in ("x", "y"):
            T = t.upper()
            assert close(v[f"T{T}R.EXP"][i], float(row[f"t{t}_re"]))
            assert close(v[f"T{T}I.EXP"][i], float(row[f"t{t}_im"]))
            assert close(v[f"T{T}VAR.EXP"][i], band["tipper"][f"t{t}"]["var"])
        assert v["ZROT"][i] == 0 and v["TROT"][i] == 0
    # A half-space-like sample: Zxy in the first quadrant, Zyx in the third
    # (exp(+i omega t) in x north, y east).
    assert sum(v["ZXYR"][i] > 0 and v["ZXYI"][i] > 0 for i in range(len(rows))) > len(rows) / 2
    assert sum(v["ZYXR"][i] < 0 and v["ZYXI"][i] < 0 for i in range(len(rows))) > len(rows) / 2


def test_qv_plot_draws_it(written, tmp_path):
    out = written[0]
    run = subprocess.run([sys.executable, str(ROOT / "tools" / "qv-plot"), "tf", str(out.with_suffix(".edi")),
                          "-o", str(tmp_path / "sample.png")], capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    assert (tmp_path / "sample.png").read_bytes()[:4] == b"\x89PNG"
