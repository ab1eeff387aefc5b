"""Fixtures of the Python companions' tests: the repository, the build and a
fresh Fourier-coefficient file of the bundled sample station.

CTest sets QV_BUILD_DIR; run by hand (``/usr/bin/python3 -m pytest -q
tests/tools/python``) the build is taken from ``build/``.
"""

import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

import pytest

import station_support

ROOT = Path(__file__).resolve().parents[3]
sys.path.insert(0, str(ROOT / "tools"))


@pytest.fixture(scope="session")
def build_dir():
    for prog in ("qel_vort", "fcdump"):
        station_support.program(prog)  # fails the test when it is not built
    return Path(station_support.build_dir())


@pytest.fixture
def short_tmp():
    """A scratch folder with a short absolute name, as a user's station folders
    have: paths.cfg holds 80 characters a line, which a pytest folder under a
    deep CI tree can exceed (and a station folder then names its recording
    relative to itself)."""
    with tempfile.TemporaryDirectory(prefix="qv-", dir="/tmp") as scratch:
        yield Path(scratch)


@pytest.fixture(scope="session")
def sample_f5(build_dir, tmp_path_factory):
    """sample_qel.f5 written by a run of the README command in a copy of the station."""
    station = tmp_path_factory.mktemp("sample_station")
    src = ROOT / "examples" / "sample_station"
    for name in ("paths.cfg", "decset.cfg", "pwset.cfg", "sample_qel.sp", "sample_qel.bin"):
        shutil.copy(src / name, station / name)
    run = subprocess.run([str(build_dir / "qel_vort"), "-f:sample_qel.bin"], cwd=station,
                         stdin=subprocess.DEVNULL, capture_output=True, text=True)
    assert run.returncode == 0, run.stdout + run.stderr
    return station / "sample_qel.f5"


def require_shared(path):
    """Skips the calling test when a file of the shared data beside the clone is missing,
    or fails it when the build requires the shared data (QV_REQUIRE_SHARED_DATA, set by CI)."""
    if Path(path).exists():
        return
    if os.environ.get("QV_REQUIRE_SHARED_DATA", "0") not in ("", "0"):
        pytest.fail(f"{path} is not there, and the build requires the shared data", pytrace=False)
    pytest.skip(f"{path} is not there (shared data beside the clone)")
