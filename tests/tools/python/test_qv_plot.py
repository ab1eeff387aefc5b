"""qv-plot draws both pictures as PNG and as SVG."""

import subprocess
import sys

import pytest

from conftest import ROOT


@pytest.mark.parametrize("what", ["spectra", "rhoa"])
def test_plots_write_png_and_svg(what, sample_f5, tmp_path):
    for ext, magic in (("png", b"\x89PNG"), ("svg", b"<svg")):
        out = tmp_path / f"{what}.{ext}"
        run = subprocess.run([sys.executable, str(ROOT / "tools" / "qv-plot"), what, str(sample_f5), "-o", str(out)],
                             capture_output=True, text=True)
        assert run.returncode == 0, run.stderr
        data = out.read_bytes()
        assert len(data) > 10000 and magic in data[:400], (out, data[:100])
