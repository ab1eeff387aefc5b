"""A station folder written by tools/qv-new-station processes a recording of the
rate and duration it was made for: qel_vort ends with exit status 0, every
level gets the windows docs/decimation-guide.md promises, the levels are those
the guide's rule gives, and a sinusoid in the recording comes out at its
frequency (so the system parameter file's sample interval is the recording's).

The durations and the spacing of windows (--max-windows) keep each run short
and still give four or five levels.
"""

import csv
import io
import math

import pytest

from station_support import fcdump_levels, generate, program, read_decset, run, write_recording

START = (2021, 6, 1, 3, 17, 29)   # not on a window-grid time of any level
REFERENCE = (2021, 6, 1, 0, 0, 0)
MIN_WINDOWS = 10                   # the guide's rule for adding a level


def guide_windows(n_input, lv, factor):
    """Windows of a level by the guide's formula: (T - window) / step + 1."""
    n = n_input // factor
    step = lv["nwin"] - int(lv["olap"])
    return (n - lv["nwin"]) // step + 1 if n >= lv["nwin"] else 0


@pytest.mark.parametrize("rate,hours,channels,max_windows", [
    (10, 6, "Hx,Hy,Hz,Ex,Ey", 150),
    (128, 1, "Ex,Ey,Hx,Hy,Hz", 120),
    (1000, 1 / 6, "Ex,Ey,Hx,Hy", 120),
], ids=["10Hz-6h", "128Hz-1h", "1000Hz-10min"])
def test_generated_station_processes_its_recording(tmp_path, rate, hours, channels, max_windows):
    qel_vort, fcdump = program("qel_vort"), program("fcdump")
    folder = tmp_path / "st"
    generate(folder, "--rate", str(rate), "--hours", repr(hours), "--channels", channels, "--name", "st",
             "--max-windows", str(max_windows))
    levels, levoff = read_decset(folder / "decset.cfg")
    nch = len(channels.split(","))
    n = int(round(hours * 3600 * rate))

    # The guide: level 1 is the recording, then factors of 4; every level gets
    # at least 10 windows and a further level would not.
    factors = [4 ** k for k in range(len(levels))]
    assert [lv["decfac"] for lv in levels] == [1] + [4] * (len(levels) - 1)
    promised = [guide_windows(n, lv, f) for lv, f in zip(levels, factors)]
    assert all(p >= MIN_WINDOWS for p in promised), promised
    next_level = dict(nwin=levels[-1]["nwin"], olap=32)
    assert len(levels) == 10 or guide_windows(n, next_level, 4 * factors[-1]) < MIN_WINDOWS

    # A sinusoid on the first channel at harmonic 10 of level 2.
    dr2 = 4.0 / rate
    f0 = 10.0 / (levels[1]["nwin"] * dr2)
    write_recording(folder / "st.asc", rate, n, nch, START, REFERENCE, sine=(0, f0, 20.0))

    res = run([qel_vort, "-A", "-f:st.asc"], cwd=folder)
    assert res.returncode == 0, res.stdout[-2000:] + res.stderr
    fc = folder / ("st.f%d" % nch)
    table = run([fcdump, str(fc)], cwd=folder)
    assert table.returncode == 0, table.stderr
    windows = fcdump_levels(table.stdout)
    assert sorted(windows) == [levoff + k for k in range(1, len(levels) + 1)], table.stdout
    for k, p in enumerate(promised, 1):
        got = windows[levoff + k]
        # The first window waits for the next grid time and the filters need a
        # few samples at either end: up to two fewer than the formula.
        assert p - 2 <= got <= p, "level %d: %d windows, the guide promises %d" % (k, got, p)

    # The sinusoid's harmonic stands out on level 2, where it was put.
    dump = run([fcdump, "--csv", str(fc)], cwd=folder)
    amp, freq = {}, {}
    for row in csv.DictReader(io.StringIO(dump.stdout)):
        if int(row["level"]) == levoff + 2 and int(row["channel"]) == 1:
            k = int(row["findex"])
            amp.setdefault(k, []).append(math.hypot(float(row["re"]), float(row["im"])))
            freq[k] = float(row["freq_hz"])
    mean = {k: sum(v) / len(v) for k, v in amp.items()}
    peak = max(mean, key=mean.get)
    assert peak == 10, "the %.4g Hz sinusoid peaks at harmonic %d of level 2" % (f0, peak)
    assert mean[10] > 10 * max(mean[k] for k in (7, 13))
    # The file's frequencies come from the system parameter file's sample
    # interval (its header rounds dr to 4 digits).
    assert abs(freq[10] - f0) < 1e-3 * f0, "harmonic 10 of level 2 is labelled %g Hz, the sinusoid is at %g Hz" % (
        freq[10], f0)


@pytest.mark.parametrize("where", ["beside", "inside"])
def test_station_folder_works_after_a_copy(short_tmp, where):
    """A station folder made from a recording beside it (../raw) or inside it
    (raw/) still runs when the folder is copied into a survey elsewhere; the
    recording beside it stays where it was, the one inside travels along."""
    import shutil

    qel_vort = program("qel_vort")
    folder = short_tmp / "made" / "st"
    raw = short_tmp / "made" / "raw" if where == "beside" else folder / "raw"
    raw.mkdir(parents=True)
    write_recording(raw / "st.asc", 10, 3600, 4, START, REFERENCE)
    generate(folder, "--recording", str(raw / "st.asc"), "--channels", "Ex,Ey,Hx,Hy")
    line1 = (folder / "paths.cfg").read_text().splitlines()[0]
    assert line1 == (str(raw) if where == "beside" else "raw")

    survey = short_tmp / "survey" / "2021" / "st"
    shutil.copytree(folder, survey)
    res = run([qel_vort, "-A", "-f:st.asc"], cwd=survey)
    assert res.returncode == 0, res.stdout[-2000:] + res.stderr
    assert (survey / "st.f4").stat().st_size > 0 and not (folder / "st.f4").exists()


def test_a_data_folder_too_deep_for_paths_cfg_is_named_relative(tmp_path):
    """Line 1 of paths.cfg holds 80 characters; a recording beside the station in
    a deeper tree is named from the station folder (../raw), with a warning, and
    the station runs where it was made."""
    deep = tmp_path / ("survey-" + "x" * 80)
    folder, raw = deep / "st", deep / "raw"
    raw.mkdir(parents=True)
    write_recording(raw / "st.asc", 10, 3600, 4, START, REFERENCE)
    made = generate(folder, "--recording", str(raw / "st.asc"), "--channels", "Ex,Ey,Hx,Hy")
    assert "named relative to the station folder, as ../raw" in made.stderr
    assert (folder / "paths.cfg").read_text().splitlines()[0] == "../raw"
    res = run([program("qel_vort"), "-A", "-f:st.asc"], cwd=folder)
    assert res.returncode == 0, res.stdout[-2000:] + res.stderr
