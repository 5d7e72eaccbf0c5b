#!/usr/bin/env python3
"""Writes the bundled time cycles WLTC3B.CYK, NEDC.CYK and FTP75.CYK.

The rows follow UDDS.CYK and HWFET.CYK: one row per second of the schedule
with the time in s, the speed in m/s with at most three decimals, slope 0,
mode 0, time increment 0.1 s and curve 0, then two rows with mode 100 one and
two seconds after the last second of the schedule. CR LF line ends.

    python3 tools/make_cycles.py [--source FOLDER] [--out FOLDER] [--check]

--source is the folder of the second-by-second traces udds.csv, hwfet.csv and
wltc_3b.csv (columns cycSecs, cycMps, cycGrade, cycRoadType; default
../shared/cycles beside the project folder), --out the data folder (default
data). --check writes nothing: it rebuilds UDDS.CYK and HWFET.CYK from their
traces the same way and compares them byte for byte with the bundled files,
and compares the three new files with what would be written.
Python 3 standard library only.
"""

import argparse
import csv
import os
import sys

INCREMENT = "0.1"  # the time-increment column of UDDS.CYK and HWFET.CYK

# NEDC: the elementary urban cycle (ECE-15, 195 s) as corner points of its
# speed trace, (time s, speed km/h); straight lines between them. Idle 11 s,
# 0-15 km/h in 4 s, 15 km/h for 8 s, down to 10 km/h in 2 s and to 0 in 3 s;
# idle 21 s, 0-15 in 5 s, gear change 2 s, 15-32 in 5 s, 32 km/h for 24 s,
# down to 10 in 8 s and to 0 in 3 s; idle 21 s, 0-15 in 5 s, gear change 2 s,
# 15-35 in 9 s, gear change 2 s, 35-50 in 8 s, 50 km/h for 12 s, down to 35
# in 8 s, 35 km/h for 13 s, gear change 2 s (35 to 32), down to 10 in 7 s
# and to 0 in 3 s, idle 7 s.
ECE15 = [
    (0, 0), (11, 0), (15, 15), (23, 15), (25, 10), (28, 0),
    (49, 0), (54, 15), (56, 15), (61, 32), (85, 32), (93, 10), (96, 0),
    (117, 0), (122, 15), (124, 15), (133, 35), (135, 35), (143, 50), (155, 50),
    (163, 35), (176, 35), (178, 32), (185, 10), (188, 0), (195, 0),
]
# The extra-urban cycle (EUDC, 400 s): idle 20 s, 0-15 in 5 s, gear change
# 2 s, 15-35 in 9 s, gear change 2 s, 35-50 in 8 s, gear change 2 s, 50-70 in
# 13 s, 70 km/h for 50 s, down to 50 in 8 s, 50 km/h for 69 s, 50-70 in 13 s,
# 70 km/h for 50 s, 70-100 in 35 s, 100 km/h for 30 s, 100-120 in 20 s,
# 120 km/h for 10 s, down to 80 in 16 s, to 50 in 8 s and to 0 in 10 s,
# idle 20 s.
EUDC = [
    (0, 0), (20, 0), (25, 15), (27, 15), (36, 35), (38, 35), (46, 50), (48, 50),
    (61, 70), (111, 70), (119, 50), (188, 50), (201, 70), (251, 70), (286, 100),
    (316, 100), (336, 120), (346, 120), (362, 80), (370, 50), (380, 0), (400, 0),
]

FTP75_SOAK = 600   # s at standstill after the whole UDDS
FTP75_REPEAT = 505  # the first 505 s of UDDS driven again


def number(v):
    """Shortest text with at most three decimals, as in UDDS.CYK."""
    t = f"{v:.3f}".rstrip("0").rstrip(".")
    return "0" if t in ("", "-0") else t


def read_trace(path):
    """Speeds in m/s of a second-by-second trace, index = second."""
    speeds = []
    with open(path, newline="") as f:
        for row in csv.DictReader(f):
            second = round(float(row["cycSecs"]))
            if second != len(speeds):
                sys.exit(f"{path}: second {second} where {len(speeds)} was expected")
            speeds.append(float(row["cycMps"]))
    return speeds


def from_corners(corners):
    """Speeds in m/s at every whole second of a trace given by corner points in km/h."""
    speeds = []
    for (t0, v0), (t1, v1) in zip(corners, corners[1:]):
        for t in range(t0, t1):
            speeds.append((v0 + (v1 - v0) * (t - t0) / (t1 - t0)) / 3.6)
    speeds.append(corners[-1][1] / 3.6)
    return speeds


def cycle_text(speeds):
    """The cycle file for speeds at seconds 0, 1, ..., with its two end rows."""
    last = len(speeds) - 1
    rows = [f"{t} {number(v)} 0 0 {INCREMENT} 0" for t, v in enumerate(speeds)]
    rows += [f"{last + 1} 0 0 100 {INCREMENT} 0", f"{last + 2} 0 0 100 {INCREMENT} 0"]
    return "".join(r + "\r\n" for r in rows)


def nedc():
    ece = from_corners(ECE15)   # 196 values, seconds 0 to 195
    eudc = from_corners(EUDC)   # 401 values, seconds 0 to 400
    speeds = ece[:-1] * 4 + eudc  # each part ends where the next begins, at rest
    assert len(speeds) == 1181
    return speeds


def ftp75(udds):
    assert len(udds) == 1370 and udds[-1] == 0 and udds[FTP75_REPEAT] == 0
    return udds + [0.0] * FTP75_SOAK + udds[1:FTP75_REPEAT + 1]


def trapezoid_km(speeds):
    return sum((a + b) / 2 for a, b in zip(speeds, speeds[1:])) / 1000


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--source", default=os.path.join(here, "..", "..", "shared", "cycles"))
    p.add_argument("--out", default=os.path.join(here, "..", "data"))
    p.add_argument("--check", action="store_true")
    a = p.parse_args()

    udds = read_trace(os.path.join(a.source, "udds.csv"))
    hwfet = read_trace(os.path.join(a.source, "hwfet.csv"))
    wltc = read_trace(os.path.join(a.source, "wltc_3b.csv"))
    cycles = {"WLTC3B.CYK": wltc, "NEDC.CYK": nedc(), "FTP75.CYK": ftp75(udds)}

    failed = False
    if a.check:
        for name, speeds in {"UDDS.CYK": udds, "HWFET.CYK": hwfet, **cycles}.items():
            path = os.path.join(a.out, name)
            same = os.path.exists(path)
            if same:
                with open(path, "rb") as f:
                    same = f.read() == cycle_text(speeds).encode("ascii")
            print(f"{name}: {'same' if same else 'DIFFERENT or missing'}")
            failed |= not same
    else:
        for name, speeds in cycles.items():
            with open(os.path.join(a.out, name), "wb") as f:
                f.write(cycle_text(speeds).encode("ascii"))
    for name, speeds in cycles.items():
        # The figures of the rows as written (speeds rounded to three decimals).
        written = [float(number(v)) for v in speeds]
        print(f"{name}: {len(speeds) - 1} s, {trapezoid_km(written):.3f} km, "
              f"max {max(written):.3f} m/s = {max(written) * 3.6:.1f} km/h")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
