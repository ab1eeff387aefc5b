"""The Python reader against fcdump, and the quick impedance of the sample
station against the impedance its generator builds into the recording."""

import math
import re
import shutil
import subprocess

import numpy as np

import qvfc
from conftest import ROOT


def test_reader_gives_every_coefficient_and_window_of_fcdump(build_dir, sample_f5):
    csv = subprocess.run([str(build_dir / "fcdump"), "--csv", str(sample_f5)], capture_output=True, text=True,
                         check=True).stdout
    rows = np.array([line.split(",") for line in csv.splitlines()[1:]])
    level, findex, window, channel = (rows[:, i].astype(np.int64) for i in (0, 1, 3, 4))
    freq, re_, im_ = (rows[:, i].astype(np.float32) for i in (2, 5, 6))

    fc = qvfc.read(sample_f5)
    assert fc.header.chid == ["Ex", "Ey", "Hx", "Hy", "Hz"]
    nch = fc.header.nch
    # fcdump lists level by level, block by block, each record's channels in turn.
    want = {k: [] for k in ("level", "findex", "freq", "window", "channel", "coef")}
    for lev in fc.levels:
        nw, nf = lev.coef.shape[:2]
        shape = (nf, nw, nch)
        want["level"].append(np.full(shape, lev.level_id))
        want["findex"].append(np.broadcast_to(lev.findex[:, None, None], shape))
        want["freq"].append(np.broadcast_to(lev.freq[:, None, None], shape))
        want["window"].append(np.broadcast_to(lev.windows[None, :, None], shape))
        want["channel"].append(np.broadcast_to(np.arange(1, nch + 1), shape))
        want["coef"].append(lev.coef.transpose(1, 0, 2))
    want = {k: np.concatenate([a.ravel() for a in v]) for k, v in want.items()}

    assert len(rows) == len(want["coef"]) == 10180 * nch
    assert np.array_equal(level, want["level"])
    assert np.array_equal(findex, want["findex"])
    assert np.array_equal(window, want["window"])
    assert np.array_equal(channel, want["channel"])
    assert np.array_equal(freq, want["freq"].astype(np.float32))
    assert np.array_equal(re_, want["coef"].real, equal_nan=True)
    assert np.array_equal(im_, want["coef"].imag, equal_nan=True)


def generator_impedance(a, f):
    """Z of the sample recording in (mV/km)/nT at f Hz.

    tools/make_sample_station.cpp writes E(t) = a (H(t) + tau dH/dt) with dH/dt
    as the central difference (H(t + dt) - H(t - dt)) / (2 dt) of the 128 Hz
    samples, tau = 0.5 s. A shift by +dt multiplies a coefficient
    sum x(t) exp(-2 pi i f t) by exp(+2 pi i f dt), so the difference gives
    i sin(2 pi f dt) / dt and Z = a (1 + i tau sin(2 pi f dt) / dt).
    """
    dt, tau = 1.0 / 128.0, 0.5
    return a * (1 + 1j * tau * math.sin(2 * math.pi * f * dt) / dt)


def test_apparent_resistivity_and_phase_of_the_sample_station(sample_f5):
    bands = qvfc.impedance(qvfc.read(sample_f5))
    # Where E is explained by H (squared coherence near 1) the data determine Z;
    # above a few Hz the magnetometer's 0.01 nT noise floor takes over and
    # biases |Z| low, at the lowest frequencies the few windows do.
    rho_dev, phi_dev, periods = [], [], []
    for b in bands:
        for coh, a, z, z_err in ((b.coh_x, 3.0, b.zxy, b.zxy_err), (b.coh_y, -1.5, b.zyx, b.zyx_err)):
            if coh < 0.96:
                continue
            z0 = generator_impedance(a, b.freq)
            rho0 = 0.2 * b.period * abs(z0) ** 2
            rho = 0.2 * b.period * abs(z) ** 2
            dphi = math.degrees(math.atan2((z / z0).imag, (z / z0).real))
            rel = z_err / abs(z)
            # A few per cent and degrees beyond the band's own standard error.
            assert abs(rho / rho0 - 1) <= 0.06 + 3 * 2 * rel, (b, rho, rho0)
            assert abs(dphi) <= 2.0 + 3 * math.degrees(math.asin(min(rel, 1.0))), (b, dphi)
            rho_dev.append(rho / rho0 - 1)
            phi_dev.append(dphi)
            periods.append(b.period)
    assert len(rho_dev) >= 20
    assert max(periods) / min(periods) > 100          # about 0.3 s to 45 s
    assert abs(np.median(rho_dev)) < 0.05
    assert np.median(np.abs(rho_dev)) < 0.06
    assert np.median(np.abs(phi_dev)) < 1.5


def test_channel_kinds_are_the_programs_also_for_an_identifier_with_a_leading_blank(build_dir, tmp_path):
    """A blank before "Ex" in the system parameter file makes the channel
    magnetic for qel_vort (it warns); the reader must take it so too, and agree
    with fcdump's unit of every channel."""
    src = ROOT / "examples" / "sample_station"
    for name in ("paths.cfg", "decset.cfg", "pwset.cfg", "sample_qel.bin"):
        shutil.copy(src / name, tmp_path / name)
    sp = (src / "sample_qel.sp").read_text().replace("\nEx\n", "\n Ex\n", 1)
    (tmp_path / "sample_qel.sp").write_text(sp)
    run = subprocess.run([str(build_dir / "qel_vort"), "-f:sample_qel.bin"], cwd=tmp_path,
                         stdin=subprocess.DEVNULL, capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    assert 'the identifier of channel 1, " Ex", begins with a blank' in run.stderr

    f5 = tmp_path / "sample_qel.f5"
    summary = subprocess.run([str(build_dir / "fcdump"), str(f5)], capture_output=True, text=True,
                             check=True).stdout
    units = re.findall(r"^\s+\d+\s+.*?\s(mV/km|nT)/sqrt\(Hz\)$", summary, re.M)
    fc = qvfc.read(f5)
    assert fc.header.chid[0] == " Ex"
    assert [qvfc.field_unit(c) for c in fc.header.chid] == units == ["nT", "mV/km", "nT", "nT", "nT"]


def test_metadata_gives_the_window_times_fcdump_shows_and_another_runs_is_refused(build_dir, sample_f5, tmp_path):
    fc = qvfc.read(sample_f5)
    assert fc.metadata["fc_file"]["name"] == "sample_qel.f5"
    csv = subprocess.run([str(build_dir / "fcdump"), "--csv", str(sample_f5)], capture_output=True, text=True,
                         check=True).stdout.splitlines()
    assert csv[0].endswith(",start_utc")
    fcdump_times = {}
    for line in csv[1:]:
        f = line.split(",")
        fcdump_times[(int(f[0]), int(f[3]))] = np.datetime64(f[7].rstrip("Z"), "us")
    for lev in fc.levels:
        for w, t in zip(lev.windows, lev.times):
            assert abs(t - fcdump_times[(lev.level_id, int(w))]) <= np.timedelta64(1, "us")

    # A coefficient file changed after the run no longer matches its metadata.
    changed = tmp_path / "sample_qel.f5"
    raw = bytearray(sample_f5.read_bytes())
    raw[20 * 24 + 2 * 24 + 5] ^= 1   # a coefficient word of the first block
    changed.write_bytes(bytes(raw))
    shutil.copy(str(sample_f5) + ".json", str(changed) + ".json")
    try:
        qvfc.read(changed)
        raise AssertionError("the metadata of another file was taken")
    except qvfc.FcFormatError as e:
        assert "belongs to another run" in str(e)
    res = subprocess.run([str(build_dir / "fcdump"), str(changed)], capture_output=True, text=True)
    assert res.returncode == 1 and "belongs to another run" in res.stderr
