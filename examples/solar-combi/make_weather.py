#!/usr/bin/python3
"""Writes weather.epw, a year of hourly weather at a made-up place (48 N,
11 E, UTC+1) in the EPW layout, and outdoor.csv, the same dry-bulb
temperatures as a plain series for the space-heating load. Nothing here is
measured weather: the numbers come from formulas, the same on every run.

  /usr/bin/python3 examples/solar-combi/make_weather.py [FOLDER]

Sun: placed at the middle of each hour from the day of the year
(declination, the equation of time, the longitude's distance from the
zone's meridian), as the runner does.
Clear sky: direct normal 1000 * 0.7 ** (m ** 0.678), m = 1 / cos(zenith),
diffuse horizontal 12 % of it.
Clouds: a cover c of 0 ... 1 for each day, a sum of three sines of the day
number with periods that do not divide each other (so spells of clear and
dull days follow without a pattern), plus 0.15 in winter. The direct normal
is cut by (1 - c) ** 1.5; the diffuse horizontal becomes
0.12 (1 - c) DNI_clear + 0.3 c DNI_clear cos(zenith), the light the clouds
scatter.
Dry bulb: 9 degC mean, 9 K around it through the year (coldest on 15
January), 4 K through the day (warmest at 15 h), the daily swing smaller
and the day 2 K milder under clouds.
"""
import math
import os
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


def cloud(n):
    winter = 0.15 * math.cos(2 * math.pi * (n - 15) / 365)
    c = (0.35 + 0.25 * math.sin(2 * math.pi * n / 4.7) + 0.15 * math.sin(2 * math.pi * n / 11.3 + 1.0)
         + 0.1 * math.sin(2 * math.pi * n / 2.3 + 2.0) + winter)
    return min(max(c, 0.0), 1.0)


def main(folder):
    lines = ["LOCATION,Sampletown,-,-,made for the example,000000,%.2f,%.2f,%.1f,500.0" % (LAT, LON, TZ),
             "DESIGN CONDITIONS,0", "TYPICAL/EXTREME PERIODS,0", "GROUND TEMPERATURES,0",
             "HOLIDAYS/DAYLIGHT SAVINGS,No,0,0,0", "COMMENTS 1,a year made by make_weather.py",
             "COMMENTS 2,not measured", "DATA PERIODS,1,1,Data,Sunday, 1/1,12/31"]
    outdoor = ["# The dry bulb of weather.epw, degC, hour by hour (make_weather.py)", "time,ambient"]
    n = 0
    for month, days in enumerate(MONTH_DAYS, start=1):
        for day in range(1, days + 1):
            n += 1
            c = cloud(n)
            for hour in range(1, 25):
                cz = zenith_cos(n, hour - 0.5)
                clear = 1000 * 0.7 ** ((1 / cz) ** 0.678) if cz > 0.05 else 0.0
                dni = clear * (1 - c) ** 1.5
                dhi = 0.12 * (1 - c) * clear + 0.3 * c * clear * max(cz, 0.0)
                ghi = dni * max(cz, 0.0) + dhi
                t = (9 - 9 * math.cos(2 * math.pi * (n - 15) / 365) + 2 * (0.5 - c)
                     + 4 * (1 - 0.6 * c) * math.sin(2 * math.pi * (hour - 0.5 - 9) / 24))
                fields = [2001, month, day, hour, 60, "?9?9?9?9E0?9?9?9?9?9?9?9?9?9?9?9?9?9?9?9*9*9?9?9?9",
                          "%.1f" % t, "0.0", "70", "95000", "0", "0", "300",
                          "%d" % round(ghi), "%d" % round(dni), "%d" % round(dhi)]
                fields += ["0"] * 19
                lines.append(",".join(str(f) for f in fields))
                outdoor.append("%d,%.1f" % ((n - 1) * 24 + hour - 1, t))
    with open(os.path.join(folder, "weather.epw"), "w") as f:
        f.write("\n".join(lines) + "\n")
    with open(os.path.join(folder, "outdoor.csv"), "w") as f:
        f.write("\n".join(outdoor) + "\n")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__)))
