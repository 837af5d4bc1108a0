"""The proforma read back with an XML parser: 219 parameters, 69 inputs and
202 outputs in order, with the names, units and defaults of the reference
tables (docs/reference.md, made from the same catalog), and every parameter's
default inside its own range.

    /usr/bin/python3 proforma_check.py PROFORMA.xml REFERENCE.md
"""
import math
import re
import sys
import xml.etree.ElementTree as ET

# The catalog's units as the proforma must name them; the others are
# dimensionless and say their unit in the definition.
STUDIO = {"degC": ("Temperature", "C"), "kg/h": ("Flow Rate", "kg/hr"),
          "kW": ("Power", "kW"), "m": ("Length", "m"), "m3": ("Volume", "m^3"),
          "-": ("Dimensionless", "-"), "K": ("Temp. Difference", "deltaC"),
          "kg/m3": ("Density", "kg/m^3"), "kJ/(kg K)": ("Specific Heat", "kJ/kg.K"),
          "W/(m K)": ("Thermal Conductivity", "W/m.K"), "MJ": ("Energy", "MJ"),
          "h": ("Time", "hr")}


def reference_rows(path):
    """{role: [(name, unit, default or None)]} from the Markdown tables."""
    rows = {"parameter": [], "input": [], "output": []}
    role = None
    for line in open(path, encoding="utf-8"):
        if line.startswith("## "):
            role = line[3:].strip().lower().rstrip("s")
            continue
        m = re.match(r"\| \d+ \| `([^`]+)` \| ([^|]*) \|(?: ([^|]*) \|)? ", line)
        if m and role in rows:
            default = m.group(3) if role != "output" else None
            rows[role].append((m.group(1), m.group(2).strip(), default))
    return rows


def number(text):
    return {"+Inf": math.inf, "-Inf": -math.inf}[text] if text.endswith("Inf") else float(text)


def main(proforma, reference):
    root = ET.parse(proforma).getroot()
    failures = []

    def check(ok, what):
        if not ok:
            failures.append(what)

    check(root.tag == "TrnsysModel", "root " + root.tag)
    check(root.findtext("type") == "8642", "type")
    check(root.findtext("modifictionDate") is not None, "modifictionDate")
    check(int(root.findtext("maxInstance")) >= 2, "maxInstance")
    variables = root.find("variables").findall("variable")
    rows = reference_rows(reference)
    expected = [(role, row) for role in ("parameter", "input", "output") for row in rows[role]]
    check(len(rows["parameter"]) == 219 and len(rows["input"]) == 69
          and len(rows["output"]) == 202, "reference tables incomplete")
    check(len(variables) == len(expected), f"{len(variables)} variables")
    for order, (v, (role, (name, unit, default))) in enumerate(zip(variables, expected), 1):
        f = {child.tag: (child.text or "") for child in v}
        where = f"variable {order} ({name})"
        check(f["order"] == str(order), where + ": order " + f["order"])
        check(f["role"] == role and f["name"] == name, where + f": {f['role']} {f['name']}")
        if unit in STUDIO:
            check((f["dimension"], f["unit"]) == STUDIO[unit], where + ": unit " + f["unit"])
        elif unit:
            check(f["unit"] == "-" and "Unit " + unit in f["definition"], where + ": " + unit)
        if default is not None:
            check(float(f["default"]) == float(default), where + ": default " + f["default"])
        low, high, value = number(f["min"]), number(f["max"]), float(f["default"])
        bounds = f["boundaries"]
        inside = ((low < value if bounds[0] == "]" else low <= value)
                  and (value < high if bounds[-1] == "[" else value <= high))
        # A port not in use (-1) and a heat input off (0) are inside their ranges too.
        check(role == "output" or inside, where + f": default {value} outside {bounds}")
        check(f["type"] in ("real", "integer"), where + ": type")
        if f["type"] == "integer":
            check(value == int(value), where + ": integer default")
    for what in failures[:20]:
        print("proforma:", what)
    print(f"proforma: {len(variables)} variables checked, {len(failures)} faults")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
