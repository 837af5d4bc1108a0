#!/usr/bin/python3
"""Writes sample.epw: three clear days (20 ... 22 June) at a made-up place
in the EPW layout, for the runner's tests. Nothing here is measured weather.

Clear sky: the sun from the day and the hour's middle (declination, the
equation of time, the longitude's distance from the zone's meridian), the
direct normal irradiance 1000 * 0.7 ** (m ** 0.678) with m = 1 / cos(zenith),
the diffuse horizontal 12 % of the direct normal, the global horizontal the
sum of both on the horizontal. Dry bulb 20 degC +- 6 K, warmest at 15 h.
"""
import math
import sys

LAT, LON, TZ = 48.0, 11.0, 1.0
MONTH_DAYS = [31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31]


def zenith_cos(n, clock):
    b = 2 * math.pi * (n - 1) / 365
    e = 229.2 * (0.000075 + 0.001868 * math.cos(b) - 0.032077 * math.sin(b)
                 - 0.014615 * math.cos(2 * b) - 0.04089 * math.sin(2 * b))
    d = math.radians(23.45 * math.sin(2 * math.pi * (284 + n) / 365))
    w = math.radians(15 * (clock + (LON - 15 * TZ) / 15 + e / 60 - 12))
    p = math.radians(LAT)
    return math.cos(p) * math.cos(d) * math.cos(w) + math.sin(p) * math.sin(d)


def main(path):
    lines = ["LOCATION,Sampletown,-,-,made for tests,000000,%.2f,%.2f,%.1f,500.0" % (LAT, LON, TZ),
             "DESIGN CONDITIONS,0", "TYPICAL/EXTREME PERIODS,0", "GROUND TEMPERATURES,0",
             "HOLIDAYS/DAYLIGHT SAVINGS,No,0,0,0", "COMMENTS 1,clear-sky days made by make_sample_epw.py",
             "COMMENTS 2,not measured", "DATA PERIODS,1,1,Data,Sunday, 6/20,6/22"]
    for day in (20, 21, 22):
        n = sum(MONTH_DAYS[:5]) + day
        for hour in range(1, 25):
            cz = zenith_cos(n, hour - 0.5)
            dni = 1000 * 0.7 ** ((1 / cz) ** 0.678) if cz > 0.05 else 0.0
            dhi = 0.12 * dni
            ghi = dni * max(cz, 0.0) + dhi
            t = 20 + 6 * math.sin(2 * math.pi * (hour - 0.5 - 9) / 24)
            fields = [2001, 6, day, hour, 60, "?9?9?9?9E0?9?9?9?9?9?9?9?9?9?9?9?9?9?9?9*9*9?9?9?9",
                      "%.1f" % t, "10.0", "50", "95000", "0", "0", "300",
                      "%d" % round(ghi), "%d" % round(dni), "%d" % round(dhi)]
            fields += ["0"] * 19
            lines.append(",".join(str(f) for f in fields))
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "sample.epw")
