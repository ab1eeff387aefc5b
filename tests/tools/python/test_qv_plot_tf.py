"""qv-plot tf: its SEG EDI reader against the numbers of two files (an older
file of another program and the hand-worked file of qel_tf's writer,
tests/transfer/two_bands.edi), the interval it shows phases in, and the
pictures."""

import subprocess
import sys
import types

import numpy as np
import pytest

from conftest import ROOT, require_shared

QV_PLOT = ROOT / "tools" / "qv-plot"
BP02 = ROOT.parent / "shared" / "data" / "realmt" / "BP02_transfer_function_birrp_example.edi"
TWO_BANDS = ROOT / "tests" / "transfer" / "two_bands.edi"


def load_qv_plot():
    """qv-plot as a module: the script has no .py name to import it by."""
    module = types.ModuleType("qv_plot")
    module.__file__ = str(QV_PLOT)
    exec(compile(QV_PLOT.read_text(), str(QV_PLOT), "exec"), module.__dict__)
    return module


qv_plot = load_qv_plot()

needs_bp02 = pytest.mark.usefixtures("bp02_present")


@pytest.fixture
def bp02_present():
    require_shared(BP02)


@needs_bp02
def test_reader_gives_the_numbers_of_an_older_file_in_lower_case():
    edi = qv_plot.read_edi(str(BP02))
    assert edi.order[:3] == ["HEAD", "INFO", "=DEFINEMEAS"] and edi.order[-1] == "END"
    assert edi.name == "BP02"
    assert edi.latitude == pytest.approx(-34.91348) and edi.longitude == pytest.approx(138.57898)
    assert edi.head["ELEV"] == "24.0"
    assert [m["CHTYPE"] for m in edi.meas] == ["hx", "hy", "hz", "ex", "ey", "rx", "ry"]
    assert edi.meas[3]["X2"] == "25.0"
    assert edi.mtsect["EY"] == "1005.001" and edi.mtsect["NFREQ"] == "11"
    assert edi.sign is None  # the file does not say
    assert len(edi.freq) == 11
    assert edi.freq[0] == 5.940595e-01 and edi.freq[-1] == 1.236858e-02
    z, var = edi.z("xy")
    assert z[0] == complex(-1.231294e01, -1.563194e00)
    assert z[10] == complex(-3.975551e02, 1.432561e03)
    assert var[4] == 1.420357e03
    z, var = edi.z("yx")
    assert z[8] == complex(1.025769e03, 6.252727e03)  # a value of the second line of the block
    assert var[10] == 1.412901e12
    assert edi.blocks["TYVAR.EXP"].tolist() == [0.0] * 11


def test_reader_gives_the_numbers_of_the_writers_file():
    edi = qv_plot.read_edi(str(TWO_BANDS))
    assert edi.name == "ST07"
    assert edi.head["FILEBY"] == "qel_tf 4.2" and edi.head["STDVERS"] == "SEG 1.0"
    assert edi.latitude == pytest.approx(-(34 + 54 / 60 + 48.53 / 3600), abs=1e-12)
    assert edi.longitude == pytest.approx(138 + 34 / 60 + 44.33 / 3600, abs=1e-12)
    assert edi.sign == 1
    assert "Z_UNITS=(mV/km)/nT" in [line.strip() for line in edi.info]
    assert edi.freq.tolist() == [0.5, 0.02]
    assert edi.period.tolist() == [2.0, 50.0]
    assert edi.blocks["ZROT"].tolist() == [30.0, 30.0]
    z, var = edi.z("xy")
    assert z.tolist() == [3 + 4j, 6 + 8j] and var.tolist() == [0.08, 2.0]
    z, var = edi.z("xx")
    assert var[0] == 0.02 and np.isnan(var[1])  # EMPTY
    assert edi.blocks["TXR.EXP"][0] == 0.1 and np.isnan(edi.blocks["TXR.EXP"][1])
    ex = next(m for m in edi.meas if m.get("CHTYPE") == "EX")
    assert (ex["X"], ex["Y"], ex["X2"], ex["Y2"]) == ("-43.30", "-25.00", "43.30", "25.00")
    # rho_a and phase as drawn: Zxy = 3 + 4i at 2 s, 6 + 8i at 50 s; Zyx = -4 - 3i
    # and -6 - 8i in the third quadrant, where the file has them.
    pts = qv_plot.tf_points(edi)
    assert pts["xy"]["rho"] == pytest.approx([10.0, 1000.0])
    assert pts["xy"]["rho_err"] == pytest.approx([0.8, 200.0])
    assert pts["xy"]["phase"] == pytest.approx([53.130102354, 53.130102354])
    assert pts["yx"]["phase"] == pytest.approx([-143.130102354, -126.869897646])
    assert pts["xx"]["rho_err"][0] == pytest.approx(0.4 * 2 * np.sqrt(5) * 0.1) and np.isnan(pts["xx"]["rho_err"][1])


def test_reader_takes_any_case_comments_fortran_exponents_and_states_its_errors(tmp_path):
    text = (">!a comment\n>head\n  dataid=\"X 1\" lat=10:30:00 EMPTY=-999.\n"
            ">info\n  signconvention = exp(- i\\omega t)\n"
            ">freq //3\n 1.0D+00 5.0d-01\n 2.5E-01\n>zxyr // 3\n1 -999 3\n>ZXYI //3\n1 1 1\n>end\n")
    path = tmp_path / "lower.edi"
    path.write_text(text)
    edi = qv_plot.read_edi(str(path))
    assert edi.name == "X 1" and edi.latitude == 10.5 and edi.sign == -1
    assert edi.freq.tolist() == [1.0, 0.5, 0.25]
    z, var = edi.z("xy")
    assert z[0] == 1 + 1j and np.isnan(z[1].real) and np.isnan(var).all()
    # A file of exp(-i omega t) is drawn conjugated: Zxy = 1 + i shows -45 degrees.
    assert qv_plot.tf_points(edi)["xy"]["phase"] == pytest.approx([-45.0, -18.434948823])

    path.write_text(text.replace(">ZXYI //3\n1 1 1", ">ZXYI //3\n1 1"))
    with pytest.raises(ValueError, match=r"lower.edi:11: >ZXYI announces 3 values, the block holds 2"):
        qv_plot.read_edi(str(path))
    path.write_text(text.replace("2.5E-01", "2.5E-O1"))
    with pytest.raises(ValueError, match=r"lower.edi:8: >FREQ: expected a number, found '2.5E-O1'"):
        qv_plot.read_edi(str(path))
    path.write_text("DATAID=nothing\n")
    with pytest.raises(ValueError, match="not a SEG EDI file"):
        qv_plot.read_edi(str(path))


def inside(phases, window):
    lo, hi = window
    shown = qv_plot.wrap_phase(phases, lo)
    return bool(np.all((shown >= lo) & (shown <= hi)))


def test_phase_window_holds_every_phase_in_the_shortest_interval():
    w = qv_plot.phase_window
    # A half-space: Zxy at +45, Zyx at -135 degrees.
    assert w([45, 44, -135, -134]) == (-180.0, 90.0)
    assert w([10, 80]) == (0.0, 90.0)
    assert w([170, -170]) == (135.0, 225.0)  # across the back of the circle, not the whole of it
    assert w([30]) == (0.0, 90.0)            # at least 90 degrees
    assert w([]) == (-180.0, 180.0)
    # The whole circle.
    assert w(np.arange(-170, 180, 20)) == (-180.0, 180.0)
    rng = np.random.default_rng(5)
    for _ in range(200):
        p = rng.uniform(-720, 720, rng.integers(1, 12))
        lo, hi = w(p)
        assert inside(p, (lo, hi)), (p, lo, hi)
        assert 90 <= hi - lo <= 360 and -180 < (lo + hi) / 2 <= 180


@needs_bp02
def test_phases_of_bp02_all_lie_on_the_axis():
    pts = qv_plot.tf_points(qv_plot.read_edi(str(BP02)))
    phases = np.concatenate([d["phase"] for d in pts.values()])
    assert inside(phases, qv_plot.phase_window(phases))


def run_tf(*args):
    return subprocess.run([sys.executable, str(QV_PLOT), "tf", *map(str, args)], capture_output=True, text=True)


@needs_bp02
def test_tf_draws_either_file_and_one_over_the_other(tmp_path):
    for src, out, compare in ((BP02, "bp02.png", []), (TWO_BANDS, "two.svg", ["--compare", BP02, TWO_BANDS])):
        run = run_tf(src, "-o", tmp_path / out, *compare)
        assert run.returncode == 0, run.stderr
        data = (tmp_path / out).read_bytes()
        magic = b"\x89PNG" if out.endswith("png") else b"<svg"
        assert len(data) > 10000 and magic in data[:400], (out, data[:100])
    # Without -o the picture lies beside the file.
    edi = tmp_path / "copy.edi"
    edi.write_bytes(TWO_BANDS.read_bytes())
    run = run_tf(edi)
    assert run.returncode == 0, run.stderr
    assert (tmp_path / "copy.png").read_bytes()[:4] == b"\x89PNG"


def test_tf_refuses_a_file_that_is_no_edi(tmp_path):
    bad = tmp_path / "bad.edi"
    bad.write_text(">HEAD\n DATAID=x\n>END\n")
    run = run_tf(bad, "-o", tmp_path / "x.png")
    assert run.returncode == 1 and "no >FREQ block" in run.stderr and not (tmp_path / "x.png").exists()
