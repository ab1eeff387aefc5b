"""qvfc: read a qel_vort Fourier-coefficient file into numpy arrays.

A Fourier-coefficient file (``<base>.f<nch>``, for example ``sample_qel.f5``) holds,
for every decimation level and frequency index, the calibrated complex Fourier
coefficients of every window and channel. This module reads it directly (numpy
only) and hands back the header and, per level, the frequencies, the window
numbers and the coefficients, decoded exactly as ``fcdump --csv`` shows them.

Usage::

    import sys
    sys.path.insert(0, "tools")          # the folder that holds qvfc.py
    import numpy as np
    import qvfc

    fc = qvfc.read("examples/sample_station/sample_qel.f5")
    print(fc.header.chid)                # ['Ex', 'Ey', 'Hx', 'Hy', 'Hz']
    lev = fc.levels[0]                   # level identifier fc.levels[0].level_id
    lev.freq                             # Hz, one per frequency index 1..nf
    lev.windows                          # window numbers, in processing order
    lev.coef.shape                       # (windows, frequencies, channels), complex64
    amp = np.nanmean(np.abs(lev.coef), axis=0)   # average amplitude spectrum
    fc.metadata["station"]["name"]       # the metadata file beside it (None without one)
    lev.times                            # UTC time of each window (numpy datetime64[us])

    roles = qvfc.channel_roles(fc.header)        # {'Ex': 0, 'Ey': 1, 'Hx': 2, ...}
    for band in qvfc.impedance(fc):              # quick single-station estimate
        print(band.period, band.rhoa_xy, band.phase_xy)

The file
--------
Little-endian records of L = 4 nch + 4 bytes. Records 1-20 hold a text header of
fixed-width fields ("nch" I5, "nd" I6, "nfmx" I8, "mwin" with level identifier
and window length I8 I8 per listed level, "dr  " with the sample interval E12.4
per listed level, "ch,orien" with identifier A6, orientation F6.1 and tilt F8.2
per channel, "scor" latitude F8.4 and longitude F8.4, "decl" F8.4); text beyond
20 L characters is lost. From record 21 on, for every level identifier
levoff+1, levoff+2, ... and frequency index F = 1..nfmx, one block: a record
(level identifier, F, n), a record of per-channel scales A (the mean amplitude
of the level's coefficients at F), and n records of a window number and one
packed 32-bit word per channel. A word holds two parts, each a decimal
exponent e (0..7) and a 13-bit mantissa m standing for (m + 0.5) / 4096 * 10^e
(bits 0-2 real exponent, bits 3-15 real mantissa + 4096, bits 16-18 imaginary
exponent, bits 19-31 imaginary mantissa); the coefficient is that value times
A / 1000. The word 0x80000001 marks a coefficient that could not be packed and
reads as NaN.

The metadata file
-----------------
qel_vort writes ``<file>.json`` beside the file (docs/fc-file.md describes it key
by key). ``read`` takes it when its ``fc_file`` size and hash agree with the file
(the hash: the sum modulo 2^64 of splitmix64(j * 2^32 + w) over every 4-byte
little-endian word w at word index j) and raises FcFormatError when they do not:
it belongs to another run. From it every level gets the UTC time its windows'
coefficients refer to: unix_s(N) = window1_unix_s + (N - 1) step_s.

Units
-----
The program multiplies every channel by its scale factor from the system
parameter file: 1/S for a magnetic channel, 1/(S G length in km) for an
electric one, where S is the number of recorded counts per unit. The file does
not say which unit S counted; this module assumes the usual convention, counts
per nT and counts per mV, so that magnetic channels are in nT and electric
channels (identifier beginning with "E" or "e", as the program decides) in
mV/km. The window's taper has unit energy and the coefficients carry the factor
sqrt(sample interval), so a coefficient is in nT/sqrt(Hz) or (mV/km)/sqrt(Hz):
the mean of |c|^2 over windows is the two-sided power spectral density.

Impedance
---------
``impedance`` estimates a quick single-station impedance per band of a few
neighbouring frequency indices of a level by least squares over every window
and frequency of the band: Ex = Zxx Hx + Zxy Hy and Ey = Zyx Hx + Zyy Hy. With E
in mV/km and H in nT the apparent resistivity is rhoa = 0.2 T |Z|^2 (ohm m, T
the period in seconds) and the phase arg Z in degrees. The channels are taken
as measured: no rotation, the declination of the header is not applied.
Noise in H biases |Z| low, roughly by the band's squared coherence (the
fraction of the power of E that H explains), which is given with each band.
"""

from __future__ import annotations

import math
import os
import re
from dataclasses import dataclass, field

import numpy as np

__all__ = [
    "FIRST_USABLE_HARMONIC", "FcFormatError", "Header", "Level", "FcFile", "Band", "read", "read_metadata", "word_sum_hash", "decode_words",
    "is_electric", "field_unit", "channel_roles", "impedance",
]

SENTINEL = 0x80000001    # word of a coefficient that could not be packed
NCHMX = 6                # channel capacity of the program
NDMX = 10                # decimation levels
NWMX = 524288            # longest window, samples
LEVEL_ID_MIN, LEVEL_ID_MAX = -9999999, 99999999   # what the 8-character fields hold
HEADER_RECORDS = 20
# The lowest harmonic of a level that qel_tf's default bands use (the
# constant first_usable_harmonic of its band rules): the taper's main lobe
# spans about two harmonics on either side, so harmonics 1 to 3 share power
# with the zero frequency that the mean removal took away, and a red spectrum
# leaks into them. Pictures leave them out too.
FIRST_USABLE_HARMONIC = 4


class FcFormatError(ValueError):
    """The file does not have the structure of a Fourier-coefficient file."""


@dataclass
class Header:
    """Fields of the text header (records 1-20).

    Levels are those the header lists (the levels with coefficients kept, in
    level order); fields cut off at the end of record 20 stay empty (lists) or
    NaN, and ``complete`` is False.
    """
    nch: int                      # channels in every record
    nlevels: int                  # listed levels
    nfmx: int                     # frequency blocks per level in the body
    level_id: list = field(default_factory=list)   # levoff + level, per listed level
    nwin: list = field(default_factory=list)       # window length, samples of the level
    dr: list = field(default_factory=list)         # sample interval of the level, seconds
    chid: list = field(default_factory=list)       # channel identifiers
    orient: list = field(default_factory=list)     # azimuth, degrees
    tilt: list = field(default_factory=list)       # degrees
    lat: float = math.nan                          # degrees
    lon: float = math.nan                          # degrees
    decl: float = math.nan                         # declination, degrees
    complete: bool = False
    text: str = ""                                 # the 20 L characters


@dataclass
class Level:
    """The coefficients of one level (one level identifier of the body).

    Frequency index k (1-based) lies at k / (nwin dr) Hz; ``findex`` runs from 1
    to nf, the last index whose block holds coefficients (0 for a level without
    windows). ``coef[w, k-1, c]`` is the coefficient of window ``windows[w]``,
    frequency index k and channel c (0-based); NaN for the unpackable word
    and where the block of k holds no record of the window (then
    ``present[w, k-1]`` is False). ``scale[k-1, c]`` is the block's mean
    amplitude and ``count[k-1]`` its number of records.
    """
    level_id: int
    listed: bool                  # the header lists it (nwin and dr known)
    nwin: int                     # 0 when not listed
    dr: float                     # seconds; NaN when not listed
    findex: np.ndarray
    freq: np.ndarray              # Hz; NaN when not listed
    windows: np.ndarray           # int64 window numbers
    coef: np.ndarray              # complex64 (windows, nf, nch)
    present: np.ndarray           # bool (windows, nf): the block holds a record of the window
    scale: np.ndarray             # float32 (nf, nch)
    count: np.ndarray             # int64 (nf,)
    unix_s: np.ndarray = None     # float64 (windows,): seconds since 1970 (UTC) of each window; None without metadata

    @property
    def times(self):
        """UTC time of each window as numpy datetime64[us] (None without metadata)."""
        if self.unix_s is None:
            return None
        return (np.round(self.unix_s * 1e6).astype(np.int64)).astype("datetime64[us]")

    @property
    def period(self) -> np.ndarray:
        """Period of each frequency index, seconds."""
        return 1.0 / self.freq


@dataclass
class FcFile:
    path: str
    record_length: int            # bytes
    header: Header
    levoff: int                   # the body's levels are levoff+1 .. levoff+len(levels)
    levels: list                  # Level per level identifier of the body, in order
    metadata: dict = None         # the metadata file beside it, or None

    def level(self, level_id: int) -> Level:
        """The level of an identifier (levoff + level number)."""
        i = level_id - self.levoff - 1
        if not 0 <= i < len(self.levels):
            raise KeyError(f"{self.path} has no level {level_id}")
        return self.levels[i]


# --- decoding ------------------------------------------------------------------

_POW10 = np.array([1.0, 10.0, 100.0, 1e3, 1e4, 1e5, 1e6, 1e7])


def decode_words(words, scale) -> np.ndarray:
    """Coefficients of packed words (uint32 array, last axis the channels).

    Each part is unpacked to the middle of its quantisation interval and
    multiplied by the block's mean amplitude ``scale`` (one per channel) over
    1000, in single precision as the program does, so the values equal those
    of ``fcdump --csv`` bit for bit. The unpackable word gives NaN.
    """
    w = np.asarray(words, dtype=np.uint32)
    scale = np.asarray(scale, dtype=np.float32)
    er = (w & 7).astype(np.intp)
    mr = ((w >> 3) & 0x1FFF).astype(np.int64) - 4096
    ei = ((w >> 16) & 7).astype(np.intp)
    mi = ((w >> 19) & 0x1FFF).astype(np.int64)
    mi = np.where(mi >= 4096, mi - 8192, mi)
    x = ((mr + 0.5) / 4096.0 * _POW10[er]).astype(np.float32)
    y = ((mi + 0.5) / 4096.0 * _POW10[ei]).astype(np.float32)
    thousand = np.float32(1000.0)
    re_ = x * scale / thousand
    im_ = y * scale / thousand
    bad = w == SENTINEL
    re_[bad] = np.nan
    im_[bad] = np.nan
    out = np.empty(w.shape, dtype=np.complex64)
    out.real = re_
    out.imag = im_
    return out


# --- header --------------------------------------------------------------------

_INT = re.compile(r"[+-]?\d+\Z")
_REAL = re.compile(r"[+-]?(\d+\.?\d*|\.\d+)([eEdD][+-]?\d+)?\Z")
_BLANKS = " \t\r\n\0"


def _real(s: str) -> float:
    """A fixed-width real field; NaN for asterisks or anything unreadable."""
    s = s.strip(_BLANKS)
    if not _REAL.match(s):
        return math.nan
    v = np.float32(float(s.replace("d", "e").replace("D", "e")))
    return float(v) if np.isfinite(v) else math.nan


class _Fields:
    def __init__(self, path: str, text: str):
        self.path, self.t, self.pos = path, text, 0

    def fail(self, offset: int, what: str):
        raise FcFormatError(f'"{self.path}" is not a Fourier-coefficient file: {what} (byte offset {offset})')

    def has(self, w: int) -> bool:
        return self.pos + w <= len(self.t)

    def take(self, w: int) -> str:
        s = self.t[self.pos:self.pos + w]
        self.pos += w
        return s

    def label(self, want: str):
        at = self.pos
        if self.take(len(want)) != want:
            self.fail(at, f'expected "{want}"')

    def integer(self, w: int, what: str, lo: int, hi: int) -> int:
        at = self.pos
        s = self.take(w).strip(_BLANKS)
        if not _INT.match(s) or not lo <= int(s) <= hi:
            self.fail(at, f"unreadable or impossible {what}")
        return int(s)


def _parse_header(path: str, data: memoryview, size: int):
    def fail(offset, what):
        raise FcFormatError(f'"{path}" is not a Fourier-coefficient file: {what} (byte offset {offset})')

    if size < 8:
        fail(0, f"the file has only {size} bytes")
    first = bytes(data[:8]).decode("latin-1")
    count = first[3:8].strip(_BLANKS)
    if first[:3] != "nch" or not _INT.match(count):
        fail(0, 'the header does not start with "nch" and a channel count')
    nch = int(count)
    if not 2 <= nch <= NCHMX:
        fail(3, f"channel count {nch} (expected 2 to 6)")
    reclen = 4 * nch + 4
    if size % reclen:
        fail(size, f"its size of {size} bytes is not a multiple of the record length {reclen}")
    if size < HEADER_RECORDS * reclen:
        fail(size, "the file ends inside the 20 header records")
    text = bytes(data[:HEADER_RECORDS * reclen]).decode("latin-1")
    f = _Fields(path, text)
    f.take(8)
    f.label("nd")
    nlevels = f.integer(6, "number of listed levels", 0, NDMX)
    f.label("nfmx")
    nfmx = f.integer(8, "nfmx", 0, NWMX // 2)
    h = Header(nch=nch, nlevels=nlevels, nfmx=nfmx, text=text)

    def fill():
        # Each list ends where the 20 records end.
        if not f.has(4):
            return
        f.label("mwin")
        for _ in range(nlevels):
            if not f.has(16):
                return
            h.level_id.append(f.integer(8, "level identifier", -1000000000, 1000000000))
            h.nwin.append(f.integer(8, "window length", 1, NWMX))
        if not f.has(4):
            return
        f.label("dr  ")
        for _ in range(nlevels):
            if not f.has(12):
                return
            h.dr.append(_real(f.take(12)))
        if not f.has(8):
            return
        f.label("ch,orien")
        for _ in range(nch):
            if not f.has(20):
                return
            # Leading blanks are kept: the program decides the kind of a
            # channel by the identifier's first character (" Ex" is magnetic).
            h.chid.append(f.take(6).rstrip(_BLANKS))
            h.orient.append(_real(f.take(6)))
            h.tilt.append(_real(f.take(8)))
        if not f.has(20):
            return
        f.label("scor")
        h.lat = _real(f.take(8))
        h.lon = _real(f.take(8))
        if not f.has(12):
            return
        f.label("decl")
        h.decl = _real(f.take(8))
        h.complete = True

    fill()
    return h, reclen


# --- body ----------------------------------------------------------------------

def _index_blocks(path, data, size, h, reclen):
    """(level identifier, F, n, offset, scales) of every block, checked."""
    def fail(offset, what):
        raise FcFormatError(f'"{path}" is not a Fourier-coefficient file: {what} (byte offset {offset})')

    L, nfmx = reclen, h.nfmx
    off = HEADER_RECORDS * L
    if nfmx == 0 and off < size:
        fail(off, "records after the header although nfmx is 0")
    blocks, levoff, nbody, expect_f = [], 0, 0, 1
    while off < size:
        if off + 2 * L > size:
            fail(off, "the file ends inside a block header")
        ident, findex, n = np.frombuffer(data, dtype="<i4", count=3, offset=off).tolist()
        if not blocks:
            # The first block names the first level, levoff + 1; it must fit the
            # header's fields and, when the header lists levels, lie at most
            # NDMX levels before the first of them.
            lo, hi = LEVEL_ID_MIN, LEVEL_ID_MAX
            if h.level_id:
                lo, hi = max(lo, h.level_id[0] - (NDMX - 1)), min(hi, h.level_id[0])
            if not lo <= ident <= hi:
                fail(off, f"the first block's level identifier is {ident}; expected {lo} to {hi}")
            levoff = ident - 1
        expect_id = levoff + 1 + len(blocks) // nfmx
        if ident != expect_id or findex != expect_f:
            fail(off, f"expected the block of level {expect_id} and frequency index {expect_f}, "
                      f"found {ident} and {findex}")
        pad = bytes(data[off + 12:off + L])
        if any(pad):
            fail(off + 12 + next(i for i, b in enumerate(pad) if b), "non-zero padding in a block header record")
        pad = bytes(data[off + L + 4 * h.nch:off + 2 * L])
        if any(pad):
            fail(off + L + 4 * h.nch + next(i for i, b in enumerate(pad) if b), "non-zero padding in a scale record")
        room = (size - off) // L - 2
        if n < 0 or n > room:
            fail(off + 8, f"the block declares {n} coefficient records; {max(room, 0)} follow in the file")
        scale = np.frombuffer(data, dtype="<f4", count=h.nch, offset=off + L)
        blocks.append((ident, findex, n, off, scale))
        off += (2 + n) * L
        expect_f += 1
        if expect_f > nfmx:
            expect_f = 1
            nbody += 1
            if nbody > NDMX:
                fail(off, f"more than {NDMX} levels of blocks")
    if expect_f != 1:
        fail(off, f"the file ends after frequency index {expect_f - 1} of level {levoff + nbody + 1}; "
                  f"{nfmx} blocks expected")
    for ident in h.level_id:
        if not levoff < ident <= levoff + nbody:
            fail(8, f"the header lists level {ident}, which has no blocks")
    return blocks, levoff, nbody


def _level(data, h, reclen, ident, blocks) -> Level:
    nch = h.nch
    rec = np.dtype([("window", "<i4"), ("word", "<u4", (nch,))])  # reclen = 4 + 4 nch bytes
    listed = ident in h.level_id
    nwin = h.nwin[h.level_id.index(ident)] if listed else 0
    dr = h.dr[h.level_id.index(ident)] if listed and len(h.dr) > h.level_id.index(ident) else math.nan
    nf = max((b[1] for b in blocks if b[2] > 0), default=0)
    recs = [np.frombuffer(data, dtype=rec, count=b[2], offset=b[3] + 2 * reclen) for b in blocks[:nf]]
    # Every window of a level has coefficients at indices 1..nfreq, so in a
    # file the program wrote every block lists the same windows in the same
    # order; anything else is matched window by window.
    wins = [r["window"] for r in recs]
    first = next((w for w in wins if len(w)), np.zeros(0, np.int32))
    if all(len(w) == 0 or np.array_equal(w, first) for w in wins):
        windows = first.astype(np.int64)
        rows = [np.arange(len(w)) for w in wins]
    else:
        where, order = {}, []
        rows = []
        for w in wins:
            seen, r = {}, []
            for v in w.tolist():
                key = (v, seen.get(v, 0))
                seen[v] = key[1] + 1
                if key not in where:
                    where[key] = len(order)
                    order.append(v)
                r.append(where[key])
            rows.append(np.array(r, dtype=np.intp))
        windows = np.array(order, dtype=np.int64)
    coef = np.full((len(windows), nf, nch), np.nan + 1j * np.nan, dtype=np.complex64)
    present = np.zeros((len(windows), nf), dtype=bool)
    scale = np.zeros((nf, nch), dtype=np.float32)
    for k in range(nf):
        scale[k] = blocks[k][4]
        if len(recs[k]):
            coef[rows[k], k, :] = decode_words(recs[k]["word"], blocks[k][4])
            present[rows[k], k] = True
    findex = np.arange(1, nf + 1)
    freq = findex / (nwin * dr) if listed and dr > 0 else np.full(nf, math.nan)
    return Level(level_id=ident, listed=listed, nwin=nwin, dr=dr, findex=findex, freq=freq,
                 windows=windows, coef=coef, present=present, scale=scale,
                 count=np.array([b[2] for b in blocks[:nf]], dtype=np.int64))


def read(path) -> FcFile:
    """Reads a Fourier-coefficient file whole.

    Raises FcFormatError (a ValueError) naming the file, the byte offset and
    what was expected when the file does not have the structure the program
    writes, and OSError when it cannot be read.
    """
    path = os.fspath(path)
    with open(path, "rb") as fh:
        raw = fh.read()
    data = memoryview(raw)
    size = len(raw)
    h, reclen = _parse_header(path, data, size)
    blocks, levoff, nbody = _index_blocks(path, data, size, h, reclen)
    nfmx = h.nfmx
    levels = [_level(raw, h, reclen, levoff + 1 + i, blocks[i * nfmx:(i + 1) * nfmx]) for i in range(nbody)]
    meta = read_metadata(path, raw)
    if meta is not None:
        rules = {lv["level_id"]: lv["window_time"] for lv in meta["levels"]}
        for lev in levels:
            rule = rules.get(lev.level_id)
            if rule is not None:
                lev.unix_s = rule["window1_unix_s"] + (lev.windows - 1).astype(np.float64) * rule["step_s"]
    return FcFile(path=path, record_length=reclen, header=h, levoff=levoff, levels=levels, metadata=meta)


def word_sum_hash(raw: bytes) -> int:
    """The 64-bit hash of a Fourier-coefficient file that its metadata names."""
    if len(raw) % 4:
        raise FcFormatError("the file's size is no multiple of 4 bytes")
    w = np.frombuffer(raw, dtype="<u4").astype(np.uint64)
    with np.errstate(over="ignore"):
        z = (np.arange(len(w), dtype=np.uint64) << np.uint64(32)) | w
        z = z + np.uint64(0x9E3779B97F4A7C15)
        z = (z ^ (z >> np.uint64(30))) * np.uint64(0xBF58476D1CE4E5B9)
        z = (z ^ (z >> np.uint64(27))) * np.uint64(0x94D049BB133111EB)
        z = z ^ (z >> np.uint64(31))
        return int(np.sum(z, dtype=np.uint64))


def read_metadata(path, raw=None):
    """The metadata file ``<path>.json`` as a dict, or None when there is none.

    Raises FcFormatError when it is not qel_vort's metadata of version 1 or
    describes a file of another size or hash than ``path`` (raw: its bytes,
    read when not given).
    """
    import json
    meta_path = os.fspath(path) + ".json"
    if not os.path.exists(meta_path):
        return None
    with open(meta_path, encoding="utf-8") as fh:
        try:
            meta = json.load(fh)
        except ValueError as e:
            raise FcFormatError(f"{meta_path}: not JSON: {e}") from None
    if not isinstance(meta, dict) or meta.get("format") != "qel_vort fc metadata" or meta.get("version") != 1:
        raise FcFormatError(f"{meta_path}: not a qel_vort metadata file of version 1")
    if raw is None:
        with open(path, "rb") as fh:
            raw = fh.read()
    want = meta["fc_file"]
    got = "%016x" % word_sum_hash(raw)
    if want["size_bytes"] != len(raw) or want["hash"] != got:
        raise FcFormatError(f"{meta_path}: describes a file of {want['size_bytes']} bytes with hash {want['hash']}, "
                            f"but {path} has {len(raw)} bytes and hash {got}: it belongs to another run")
    return meta


# --- channels and units ------------------------------------------------------------

def is_electric(chid: str) -> bool:
    """True for an electric channel: the program's rule, an identifier whose first
    character is E or e (a leading blank makes " Ex" magnetic, as the program
    warns when it reads the system parameter file)."""
    return chid[:1] in ("E", "e")


def field_unit(chid: str) -> str:
    """Unit of a channel's field: mV/km for electric, nT for magnetic channels.

    That is what the scale factors give when the system parameter file counts
    S per mV and per nT, the usual convention; the coefficients themselves are
    in this unit per sqrt(Hz).
    """
    return "mV/km" if is_electric(chid) else "nT"


def channel_roles(header: Header) -> dict:
    """Which channel (0-based) is Ex, Ey, Hx, Hy and Hz.

    Electric or magnetic from the identifier's first letter (as the program
    decides); the component from the first x, y or z after it in the
    identifier ("Ex", "HY", "bz"), else from the header's angles: tilt of 45
    degrees or more is z, otherwise an azimuth nearer 0 or 180 degrees is x
    (north) and one nearer 90 or 270 degrees y (east). The first channel of
    each role wins.
    """
    roles = {}
    for c, chid in enumerate(header.chid):
        kind = "E" if is_electric(chid) else "H"
        comp = next((ch for ch in chid.lower()[1:] if ch in "xyz"), None)
        if comp is None:
            tilt = header.tilt[c] if c < len(header.tilt) else 0.0
            az = header.orient[c] if c < len(header.orient) else math.nan
            if abs(tilt) >= 45:
                comp = "z"
            elif math.isfinite(az):
                comp = "y" if 45 <= az % 180 < 135 else "x"
        if comp and kind + comp not in roles:
            roles[kind + comp] = c
    return roles


# --- impedance -----------------------------------------------------------------

@dataclass
class Band:
    """Impedance of one band of a level: Z in (mV/km)/nT, rhoa in ohm m, phase in degrees.

    ``*_err`` are standard errors from the least-squares residuals (for Z the
    complex standard deviation, for rhoa 2 |dZ|/|Z| rhoa, for the phase
    asin(|dZ|/|Z|)); ``coh_x``/``coh_y`` the squared multiple coherence of
    Ex and Ey with (Hx, Hy), the fraction of their power the fit explains;
    ``n`` the rows of the fit (windows times frequencies).
    """
    level_id: int
    findex: tuple                 # first and last frequency index of the band
    freq: float                   # Hz, geometric mean of the band's frequencies
    period: float                 # s
    n: int
    zxx: complex
    zxy: complex
    zyx: complex
    zyy: complex
    zxy_err: float
    zyx_err: float
    coh_x: float
    coh_y: float

    @property
    def rhoa_xy(self):
        return 0.2 * self.period * abs(self.zxy) ** 2

    @property
    def rhoa_yx(self):
        return 0.2 * self.period * abs(self.zyx) ** 2

    @property
    def phase_xy(self):
        return math.degrees(math.atan2(self.zxy.imag, self.zxy.real))

    @property
    def phase_yx(self):
        return math.degrees(math.atan2(self.zyx.imag, self.zyx.real))

    @property
    def rhoa_xy_err(self):
        return 2 * self.zxy_err / abs(self.zxy) * self.rhoa_xy

    @property
    def rhoa_yx_err(self):
        return 2 * self.zyx_err / abs(self.zyx) * self.rhoa_yx

    @property
    def phase_xy_err(self):
        return math.degrees(math.asin(min(1.0, self.zxy_err / abs(self.zxy))))

    @property
    def phase_yx_err(self):
        return math.degrees(math.asin(min(1.0, self.zyx_err / abs(self.zyx))))


def bands_of(first: int, nf: int, nwindows: int, width: float = 1.25, min_rows: int = 8):
    """Bands of neighbouring frequency indices first..nf: (first, last), 1-based.

    A band reaches from index k to about width * k (so bands have about the
    same relative width, ten to a decade for 1.25), and takes further indices
    until it has at least min_rows rows (windows times indices) for the two
    unknowns of each fit. A short rest at the end joins the band before it.
    """
    out, k = [], first
    while k <= nf:
        last = max(k, int(math.floor(k * width)))
        while (last - k + 1) * nwindows < min_rows and last < nf:
            last += 1
        last = min(last, nf)
        out.append([k, last])
        k = last + 1
    if len(out) > 1 and (out[-1][1] - out[-1][0] + 1) * nwindows < min_rows:
        out[-2][1] = out.pop()[1]
    return [tuple(b) for b in out]


def _fit(e, hx, hy):
    """Least squares e = z1 hx + z2 hy: (z1, z2), standard error of each, squared coherence."""
    a = np.stack([hx, hy], axis=1)
    z, _, rank, _ = np.linalg.lstsq(a, e, rcond=None)
    if rank < 2 or len(e) <= 2:
        return None
    r = e - a @ z
    rr = float(np.vdot(r, r).real)
    sigma2 = rr / (len(e) - 2)
    cov = sigma2 * np.linalg.inv(a.conj().T @ a)
    err = np.sqrt(np.abs(np.diag(cov)))
    ee = float(np.vdot(e, e).real)
    coh = 1.0 - rr / ee if ee > 0 else math.nan
    return z, err, coh


def impedance(fc: FcFile, width: float = 1.25, min_rows: int = 8, roles: dict | None = None,
              all_levels: bool = False):
    """Quick single-station impedance per band (list of Band, in level order).

    Each frequency is taken from the most decimated level that has it: a
    level's longer windows resolve the spectrum more finely, so the leakage of
    the taper mixes less of neighbouring frequencies (whose impedance
    differs) into each coefficient. A level thus gives only the frequencies
    above the highest of the next level; all_levels=True takes every level
    whole, so that neighbouring levels overlap.

    roles maps 'Ex', 'Ey', 'Hx', 'Hy' to channel indices (default:
    channel_roles of the header). Coefficients are used as they are in the
    file (E in mV/km, H in nT by the usual scale-factor convention). Rows
    with a NaN in any of the four channels are left out; so is a band whose
    fit is singular.
    """
    roles = roles or channel_roles(fc.header)
    missing = [r for r in ("Ex", "Ey", "Hx", "Hy") if r not in roles]
    if missing:
        raise ValueError(f"{fc.path}: no channel found for {', '.join(missing)} "
                         f"(identifiers {', '.join(fc.header.chid)})")
    ex, ey, hx, hy = (roles[r] for r in ("Ex", "Ey", "Hx", "Hy"))
    out = []
    usable = [lev for lev in fc.levels if lev.listed and lev.coef.shape[1] > 0 and len(lev.windows) > 0]
    for i, lev in enumerate(usable):
        start = 1
        if not all_levels and i + 1 < len(usable):
            # The header keeps dr to 4 digits: frequencies of two levels that
            # should coincide may differ by a few parts in 10^4.
            start = int(np.searchsorted(lev.freq, usable[i + 1].freq[-1] * (1 + 1e-3), side="right")) + 1
        for k0, k1 in bands_of(start, lev.coef.shape[1], len(lev.windows), width, min_rows):
            c = lev.coef[:, k0 - 1:k1, :].reshape(-1, fc.header.nch).astype(np.complex128)
            c = c[np.all(np.isfinite(c[:, [ex, ey, hx, hy]]), axis=1)]
            if len(c) < 3:
                continue
            fx = _fit(c[:, ex], c[:, hx], c[:, hy])
            fy = _fit(c[:, ey], c[:, hx], c[:, hy])
            if fx is None or fy is None:
                continue
            f = float(np.exp(np.mean(np.log(lev.freq[k0 - 1:k1]))))
            out.append(Band(level_id=lev.level_id, findex=(k0, k1), freq=f, period=1.0 / f, n=len(c),
                            zxx=complex(fx[0][0]), zxy=complex(fx[0][1]), zyx=complex(fy[0][0]),
                            zyy=complex(fy[0][1]), zxy_err=float(fx[1][1]), zyx_err=float(fy[1][0]),
                            coh_x=fx[2], coh_y=fy[2]))
    return out
