#!/usr/bin/python3
"""Writes the seed corpus of fuzz_call into fuzz/corpus-call/.

A seed is a program of host actions in the byte form that fuzz_call reads:
an operation byte followed by its arguments. The seeds run the stores of the
examples (their parameters and constant inputs from `plugstore deck`), the
fuzzer's own base stores, protocol orders a host can produce, and the absurd
inputs that once ended in silent infinities.

    /usr/bin/python3 fuzz/make_call_seeds.py build/plugstore
"""
import pathlib
import re
import struct
import subprocess
import sys

# Operation numbers, in the order of enum Op in fuzz_call.cpp.
(BASE, SET_PARAMETER, SET_INPUT, VERSION, START, INITIAL, ITERATE, END_STEP,
 END_SIMULATION, HOST_STEP, HOST_START, TIME, STEPS, RAW_INFO, UNIT,
 OPENING) = range(16)

ROOT = pathlib.Path(__file__).resolve().parent.parent
OUT = ROOT / "fuzz" / "corpus-call"


def real(v):
    """A value given by its 8 bytes."""
    return bytes([1]) + struct.pack("<d", v)


def param(n, v):
    return bytes([SET_PARAMETER, n - 1]) + real(v)


def inp(n, v):
    return bytes([SET_INPUT, n - 1]) + real(v)


def host_step(h):
    return bytes([HOST_STEP]) + real(h)


def steps(n, iterations):
    return bytes([STEPS, n - 1, iterations - 1])


def info(entries):
    """One call with the given 1-based info entries."""
    b = bytes([RAW_INFO, len(entries) - 1])
    for k, v in entries.items():
        b += bytes([k - 1]) + struct.pack("<h", v)
    return b


def base(k):
    return bytes([BASE, k])


def deck_values(plugstore, scenario):
    """Parameters and constant inputs of a scenario from its deck."""
    text = subprocess.run([plugstore, "deck", str(scenario)], check=True,
                          capture_output=True, text=True).stdout
    pars, inputs, section = [], [], None
    for line in text.splitlines():
        if line.startswith("PARAMETERS"):
            section = pars
        elif line.startswith("INPUTS"):
            section = inputs
        elif line.startswith("LABELS"):
            section = None
        elif section is not None:
            m = re.match(r"\s*([-+0-9.eE]+|\S+)\s+!", line)
            if m:
                try:
                    section.append(float(m.group(1)))
                except ValueError:
                    section.append(0.0)  # an input that comes from another unit
    return pars, inputs


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    plugstore = sys.argv[1]
    OUT.mkdir(exist_ok=True)
    seeds = {}

    for scenario in sorted((ROOT / "examples").glob("*/*.toml")):
        pars, inputs = deck_values(plugstore, scenario)
        b = base(0)
        b += b"".join(param(n, v) for n, v in enumerate(pars, 1))
        b += b"".join(inp(n, v) for n, v in enumerate(inputs, 1))
        b += host_step(0.1) + bytes([OPENING]) + steps(48, 2)
        seeds["example-" + scenario.stem] = b

    for k, name in enumerate(["idle", "busy", "six-hx"]):
        b = base(k) + bytes([OPENING]) + steps(24, 2)
        # a second simulation in the same process
        b += bytes([END_SIMULATION, START, INITIAL]) + steps(8, 1)
        seeds["base-" + name] = b

    # The busy store with flows that reverse, a long step and a short one.
    b = base(1) + bytes([OPENING]) + steps(10, 2)
    b += inp(2, -250.0) + inp(33, -150.0) + steps(10, 3)
    b += host_step(1.0) + steps(5, 1) + host_step(1 / 60) + steps(30, 1)
    seeds["busy-reversing"] = b

    # Protocol orders: calls before the start, a second initial call,
    # version signing together with the end of simulation, a zero and a
    # negative time step, a time of NaN, calls after the end.
    b = base(1) + bytes([ITERATE, 0, END_STEP, VERSION, START, ITERATE, 0])
    b += bytes([INITIAL, INITIAL]) + steps(3, 1)
    b += info({7: -2, 8: -1}) + steps(2, 1)
    b += host_step(0.0) + steps(2, 1) + host_step(-0.25) + steps(2, 1)
    b += bytes([TIME]) + real(float("nan")) + bytes([ITERATE, 0])
    b += bytes([END_SIMULATION, ITERATE, 0, END_STEP, END_SIMULATION])
    seeds["protocol-orders"] = b

    # Absurd finite inputs that once gave infinite outputs without a message.
    b = base(0) + param(215, 0.5) + param(4, 0.0) + param(16, 0.0)
    b += bytes([OPENING]) + inp(65, -1e308) + steps(3, 1)
    seeds["heat-input-b6-minus-1e308"] = b
    b = base(2) + param(204, 0.4) + bytes([OPENING])
    b += inp(54, -1e308) + inp(39, -1e12) + steps(3, 1)
    seeds["heat-input-a5-and-hx3-flow"] = b

    for name, data in seeds.items():
        (OUT / name).write_bytes(data)
    print(f"{len(seeds)} seeds in {OUT.relative_to(ROOT)}")


if __name__ == "__main__":
    main()
