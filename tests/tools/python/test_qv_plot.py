"""qv-plot draws its pictures as PNG and as SVG, and on every kind of station
shows every point it computes: the sample station, the sample with both
electrode lines reversed (the other sign convention: Zxy near -135 degrees,
Zyx + 180 there too) and a station of pure noise (every symbol open). The
numbers drawn come from --csv with the axes' limits; the legend is looked
at on the figure itself."""

import csv
import re
import shutil
import subprocess
import sys

import numpy as np
import pytest

from conftest import ROOT
from station_support import generate, write_recording
from test_qv_plot_tf import load_qv_plot

QV_PLOT = ROOT / "tools" / "qv-plot"


@pytest.mark.parametrize("what", ["spectra", "rhoa"])
def test_plots_write_png_and_svg(what, sample_f5, tmp_path):
    for ext, magic in (("png", b"\x89PNG"), ("svg", b"<svg")):
        out = tmp_path / f"{what}.{ext}"
        run = subprocess.run([sys.executable, str(QV_PLOT), what, str(sample_f5), "-o", str(out)],
                             capture_output=True, text=True)
        assert run.returncode == 0, run.stderr
        data = out.read_bytes()
        assert len(data) > 10000 and magic in data[:400], (out, data[:100])


def read_plot_csv(path):
    """({axis: (lo, hi)}, rows) of a --csv file."""
    limits, body = {}, []
    for line in path.read_text().splitlines():
        m = re.match(r"# axis (\S+) (\S+) (\S+)$", line)
        if m:
            limits[m.group(1)] = (float(m.group(2)), float(m.group(3)))
        else:
            body.append(line)
    return limits, list(csv.DictReader(body))


def assert_on_axes(limits, rows, columns):
    """Every finite value of each column (axis name: column) lies within its axis."""
    for axis, col in columns.items():
        lo, hi = limits[axis]
        v = np.array([float(r[col]) for r in rows])
        v = v[np.isfinite(v)]
        assert v.size, f"no finite {col}"
        assert np.all((v >= lo) & (v <= hi)), f"{col}: {v.min()}..{v.max()} outside the axis {lo}..{hi}"


def run_qel_vort(build_dir, folder, *args):
    run = subprocess.run([str(build_dir / "qel_vort"), *args], cwd=folder, stdin=subprocess.DEVNULL,
                         capture_output=True, text=True)
    assert run.returncode == 0, run.stdout[-2000:] + run.stderr


@pytest.fixture(scope="module")
def stations(build_dir, sample_f5, tmp_path_factory):
    """Coefficient files of the three stations."""
    reversed_lines = tmp_path_factory.mktemp("reversed")
    for f in sample_f5.parent.iterdir():
        if f.suffix in (".cfg", ".bin", ".sp"):
            shutil.copy(f, reversed_lines / f.name)
    sp = reversed_lines / "sample_qel.sp"
    sp.write_text(sp.read_text().replace("100000.0 0", "-100000.0 0"))  # E counts per mV, negated
    run_qel_vort(build_dir, reversed_lines, "-f:sample_qel.bin")

    noise = tmp_path_factory.mktemp("noise") / "a_station_with_a_rather_long_name_from_the_field_book"
    generate(noise, "--rate", "10", "--hours", "1", "--channels", "Ex,Ey,Hx,Hy", "--max-windows", "100",
             "--name", noise.name)
    write_recording(noise / (noise.name + ".asc"), 10, 36000, 4, (2021, 6, 1, 3, 0, 0), (2021, 6, 1, 0, 0, 0))
    run_qel_vort(build_dir, noise, "-A", f"-f:{noise.name}.asc")
    return {"sample": sample_f5, "reversed": reversed_lines / "sample_qel.f5", "noise": noise / (noise.name + ".f4")}


@pytest.mark.parametrize("station", ["sample", "reversed", "noise"])
def test_every_point_lies_on_the_axes_and_the_legend_names_every_component(stations, station, tmp_path):
    qv_plot = load_qv_plot()
    figures = []
    real_save = qv_plot.save
    qv_plot.save = lambda fig, out: (figures.append(fig), real_save(fig, out))
    fc = qv_plot.qvfc.read(stations[station])

    qv_plot.plot_rhoa(fc, str(tmp_path / "rhoa.png"), str(tmp_path / "rhoa.csv"))
    limits, rows = read_plot_csv(tmp_path / "rhoa.csv")
    assert_on_axes(limits, rows, {"period_s": "period_s", "rho_a_ohm_m": "rho_a_ohm_m", "phase_deg": "phase_deg"})
    lo, hi = limits["phase_deg"]
    xy = np.array([float(r["phase_deg"]) for r in rows if r["component"] == "Zxy"])
    coh = np.array([float(r["coherence2"]) for r in rows])
    if station == "reversed":
        assert np.all(xy < -80) and hi <= -45, (xy, lo, hi)  # where a fixed 0..90 axis shows nothing
    if station == "noise":
        assert np.all(coh < qv_plot.LOW_COHERENCE)            # every symbol open
    legend = [t.get_text() for t in figures[0].axes[0].get_legend().get_texts()]
    assert legend[:2] == ["Zxy", "Zyx (phase + 180°)"] and "open" in legend[2]
    title = figures[0].axes[0].get_title()
    assert fc.path.split("/")[-1] in title.replace("\n", "")  # the long name whole, wrapped

    qv_plot.plot_spectra(fc, str(tmp_path / "spectra.svg"), str(tmp_path / "spectra.csv"))
    limits, rows = read_plot_csv(tmp_path / "spectra.csv")
    for kind in ("electric", "magnetic"):
        assert_on_axes(limits, [r for r in rows if qv_plot.qvfc.is_electric(r["channel"]) == (kind == "electric")],
                       {"frequency_hz": "frequency_hz", f"amplitude_{kind}": "amplitude"})
    assert min(int(r["harmonic"]) for r in rows) == qv_plot.qvfc.FIRST_USABLE_HARMONIC
    legends = [[t.get_text() for t in lg.get_texts()] for lg in figures[1].findobj(qv_plot.matplotlib.legend.Legend)]
    assert ["Ex", "Ey"] in legends and fc.header.chid[2:] in legends


def test_tf_of_the_other_sign_convention_shows_every_point(tmp_path):
    """An EDI with Zxy at -135 and Zyx at +45 degrees (a half-space of 100 ohm m
    in the other convention) over five decades of error-bar sizes."""
    period = np.array([0.1, 1.0, 10.0, 100.0])
    z = np.sqrt(100 / (0.2 * period)) * np.exp(1j * np.radians(-135))
    var = (np.abs(z) * np.array([1e-3, 1e-2, 0.1, 0.9])) ** 2
    blocks = {"FREQ": 1 / period, "ZXYR": z.real, "ZXYI": z.imag, "ZXY.VAR": var,
              "ZYXR": -z.real, "ZYXI": -z.imag, "ZYX.VAR": var}
    text = ">HEAD\n DATAID=OTHER\n>INFO\n SIGNCONVENTION=exp(+i omega t)\n" + "".join(
        f">{k} //{len(v)}\n " + " ".join(f"{x:.6e}" for x in v) + "\n" for k, v in blocks.items()) + ">END\n"
    edi = tmp_path / "other.edi"
    edi.write_text(text)
    run = subprocess.run([sys.executable, str(QV_PLOT), "tf", str(edi), "--csv", str(tmp_path / "tf.csv")],
                         capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    limits, rows = read_plot_csv(tmp_path / "tf.csv")
    assert len(rows) == 8
    assert_on_axes(limits, rows, {"period_s": "period_s", "rho_a_ohm_m": "rho_a_ohm_m", "phase_deg": "phase_deg"})
    for r in rows:
        assert float(r["rho_a_ohm_m"]) == pytest.approx(100, rel=1e-5)
    assert {round(float(r["phase_deg"]) % 360) for r in rows} == {225, 45}


def test_tf_elements_fits_the_axis_to_the_elements_drawn(tmp_path):
    """Over a layered Earth Zxx and Zyy are noise decades below Zxy and Zyx:
    --elements xy,yx draws the two alone, on an axis fitted to them."""
    period = np.array([0.1, 1.0, 10.0])
    z = np.sqrt(100 / (0.2 * period)) * np.exp(1j * np.radians(45))
    small = 1e-4 * z
    var = (0.01 * np.abs(z)) ** 2
    blocks = {"FREQ": 1 / period}
    for comp, v in (("XX", small), ("XY", z), ("YX", -z), ("YY", small)):
        blocks.update({f"Z{comp}R": v.real, f"Z{comp}I": v.imag, f"Z{comp}.VAR": var})
    text = ">HEAD\n DATAID=LAYERED\n" + "".join(
        f">{k} //{len(v)}\n " + " ".join(f"{x:.6e}" for x in v) + "\n" for k, v in blocks.items()) + ">END\n"
    edi = tmp_path / "layered.edi"
    edi.write_text(text)
    run = subprocess.run([sys.executable, str(QV_PLOT), "tf", str(edi), "--elements", "xy,YX", "-o",
                          str(tmp_path / "tf.png"), "--csv", str(tmp_path / "tf.csv")], capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    limits, rows = read_plot_csv(tmp_path / "tf.csv")
    assert sorted({r["component"] for r in rows}) == ["Zxy", "Zyx"] and len(rows) == 6
    lo, hi = limits["rho_a_ohm_m"]
    assert 30 < lo < 100 < hi < 300, (lo, hi)
    bad = subprocess.run([sys.executable, str(QV_PLOT), "tf", str(edi), "--elements", "xy,zz", "-o",
                          str(tmp_path / "bad.png")], capture_output=True, text=True)
    assert bad.returncode == 2 and "--elements xy,zz" in bad.stderr and not (tmp_path / "bad.png").exists()
