"""qvsurvey: the remote reference of every station of a survey, for qv-survey --tf.

A remote reference is a second station recorded at the same time, whose
magnetic field serves as the instruments of a station's impedance estimate;
the longer the two recordings overlap, the more windows pair up. A station's
reference is the one the survey's file ``remotes.txt`` names (lines
``station reference``, folder names; ``#`` starts a comment; blank lines are
allowed), else the station whose recording shares the longest time with it at
the same sample interval (the first by name of equals), else none: the station
is estimated single-station. Only stations whose coefficients were made
(``qel_vort.status`` 0) and whose coefficient file has its metadata file count
as references; a station whose named reference has none falls back to the
longest-common-time rule.

Python 3 standard library only (json), so that the survey script needs no
more than the Python of the cluster node.

    python3 qvsurvey.py check SURVEY              refuses a bad remotes.txt (exit 2)
    python3 qvsurvey.py references SURVEY [ST]    lines: station TAB reference TAB how TAB file
    python3 qvsurvey.py coefficients DIR          the station's coefficient files, one a line
"""

import glob
import json
import os
import sys


class SurveyError(Exception):
    """A survey the references cannot be chosen for: the message says where and what."""


def stations(survey):
    """The station folders' names, sorted as qv-survey --list sorts them (bytewise)."""
    if not os.path.isdir(survey):
        raise SurveyError(f"{survey} is not a folder")
    names = [n for n in os.listdir(survey) if os.path.isdir(os.path.join(survey, n))]
    return sorted(names, key=lambda n: n.encode())


def read_remotes(survey, names):
    """remotes.txt as {station: (reference, line)}; {} without the file."""
    path = os.path.join(survey, "remotes.txt")
    if not os.path.exists(path):
        return {}
    known, pairs = set(names), {}
    with open(path, encoding="utf-8", errors="replace") as f:
        for number, line in enumerate(f, 1):
            words = line.split("#", 1)[0].split()
            if not words:
                continue
            where = f"{path}:{number}"
            if len(words) != 2:
                raise SurveyError(f"{where}: expected two names, 'station reference', found {line.strip()!r}")
            station, reference = words
            for w in words:
                if w not in known:
                    raise SurveyError(f"{where}: {w!r} is not a station of {survey} (expected the name of one of its folders)")
            if station == reference:
                raise SurveyError(f"{where}: {station} names itself; expected another station as its reference")
            if station in pairs:
                raise SurveyError(f"{where}: {station} already has its reference on line {pairs[station][1]}; expected one line per station")
            pairs[station] = (reference, number)
    return pairs


def coefficient_files(folder):
    """The station's *.f<n> files in its output folder: line 6 of paths.cfg, read as
    qel_vort reads it (trailing blanks cut, \\ as /), the station's folder without it."""
    out = ""
    try:
        with open(os.path.join(folder, "paths.cfg"), encoding="latin-1") as f:
            lines = f.read().splitlines()
        if len(lines) >= 6:
            out = lines[5].rstrip().replace("\\", "/")
    except OSError:
        pass
    out = os.path.join(folder, out or ".")
    files = sorted(glob.glob(os.path.join(glob.escape(out), "*.f[0-9]")))
    if len(files) > 1:
        # Stations may share one output folder: a file is the station's when
        # its metadata says it was made in the station's folder.
        files = [f for f in files if made_in(f, folder)] or files
    return files


def made_in(fc_path, folder):
    try:
        with open(fc_path + ".json", encoding="utf-8") as f:
            where = json.load(f)["run"]["working_folder"]
    except (OSError, ValueError, KeyError, TypeError):
        return False
    return os.path.realpath(where) == os.path.realpath(folder)


def recording_span(fc_path):
    """(first sample, end of the last window, sample interval) in Unix seconds from
    the coefficient file's metadata file, or None when it cannot be read."""
    try:
        with open(fc_path + ".json", encoding="utf-8") as f:
            meta = json.load(f)
        start = float(meta["recording"]["first_sample"]["unix_s"])
        dt = float(meta["recording"]["sample_interval_s"])
        ends = [float(lv["last_window_start"]["unix_s"]) + lv["nwin"] * float(lv["sample_interval_s"])
                for lv in meta["levels"] if lv.get("windows_stored") and lv.get("last_window_start")]
    except (OSError, ValueError, KeyError, TypeError):
        return None
    return (start, max(ends), dt) if ends else None


def usable(survey, name):
    """The station's one coefficient file and its span when its coefficients were made, else None."""
    folder = os.path.join(survey, name)
    try:
        with open(os.path.join(folder, "qel_vort.status")) as f:
            if f.read().split()[:1] != ["0"]:
                return None
    except OSError:
        return None
    files = coefficient_files(folder)
    span = recording_span(files[0]) if len(files) == 1 else None
    return (files[0], span) if span else None


def common_time(a, b):
    """Seconds both recordings cover; 0 at different sample intervals, whose windows never pair."""
    if abs(a[2] - b[2]) > 1e-9 * max(a[2], b[2]):
        return 0.0
    return max(0.0, min(a[1], b[1]) - max(a[0], b[0]))


def choose(name, pairs, found):
    """(reference or None, how it was chosen) for one station."""
    how = ""
    if name in pairs:
        reference, line = pairs[name]
        if reference in found:
            return reference, f"remotes.txt line {line}"
        how = f"remotes.txt line {line} names {reference}, which has no coefficients; "
    own = found.get(name)
    if own is None:
        return None, how + "single-station: no metadata of its own coefficients"
    best, longest = None, 0.0
    for other, (_, span) in found.items():
        t = common_time(own[1], span) if other != name else 0.0
        if t > longest:
            best, longest = other, t
    if best is None:
        return None, how + "single-station: no station recorded at the same time"
    return best, how + f"longest common time, {longest:.0f} s"


def references(survey, only=None):
    names = stations(survey)
    pairs = read_remotes(survey, names)
    found = {}
    for n in names:
        u = usable(survey, n)
        if u:
            found[n] = u
    rows = []
    for n in names:
        if only is not None and n != only:
            continue
        ref, how = choose(n, pairs, found)
        rows.append((n, ref or "-", how, found[ref][0] if ref else "-"))
    return rows


def main(argv):
    try:
        if len(argv) == 2 and argv[0] == "check":
            read_remotes(argv[1], stations(argv[1]))
        elif len(argv) in (2, 3) and argv[0] == "references":
            for row in references(argv[1], argv[2] if len(argv) == 3 else None):
                print("\t".join(row))
        elif len(argv) == 2 and argv[0] == "coefficients":
            for f in coefficient_files(argv[1]):
                print(f)
        else:
            print("usage:\n" + __doc__.split("\n\n")[-1].rstrip(), file=sys.stderr)
            return 2
    except SurveyError as e:
        print(f"qv-survey: {e}", file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
