"""The rows of a benchmark run: one text table and the JSON record."""
import contextlib
import json
import os
import platform
import subprocess
import sys

from mounts import MountError

UNITS = {"ratio": "x", "ms/file": " ms/file", "ms": " ms", "MiB": " MiB"}


def machine():
    model = next((l.split(":", 1)[1].strip() for l in open("/proc/cpuinfo")
                  if l.startswith("model name")), "?")
    memory = next((int(l.split()[1]) for l in open("/proc/meminfo")
                   if l.startswith("MemTotal")), 0)
    return {"cpu": model, "cores": os.cpu_count(), "memory_mib": memory // 1024,
            "kernel": platform.release()}


class Report:
    def __init__(self, scale):
        self.scale = scale
        self.rows = []
        self.failed = False

    def add(self, measure, value, unit, note, target=None):
        """A measured value; target, when given, is the most it may be."""
        self.rows.append({"measure": measure, "value": round(value, 3), "unit": unit,
                          "target": target, "met": None if target is None else value <= target,
                          "note": note})

    def ratio(self, measure, part, whole, note, target=None):
        if whole <= 0:
            self.missing(measure, "ratio", "too short to measure at this scale", target)
        else:
            self.add(measure, part / whole, "ratio", note, target)

    def missing(self, measure, unit, reason, target=None):
        self.rows.append({"measure": measure, "value": None, "unit": unit, "target": target,
                          "met": None, "note": f"n/a: {reason}"})

    @contextlib.contextmanager
    def section(self, measures):
        """Runs a group of measurements; if one cannot run, the group's rows not
        yet written show n/a with the reason, and the run ends unsuccessfully."""
        try:
            yield
        except (MountError, OSError, subprocess.SubprocessError) as error:
            self.failed = True
            done = {r["measure"] for r in self.rows}
            for measure, unit, target in measures:
                if measure not in done:
                    self.missing(measure, unit, f"{type(error).__name__}: {error}", target)
            print(f"bench: {error}", file=sys.stderr)

    def print_table(self):
        m = machine()
        print(f"Machine: {m['cpu']}, {m['cores']} cores, {m['memory_mib']} MiB, "
              f"kernel {m['kernel']}")
        print(f"Scale: {self.scale}")
        cells = [("measure", "value", "target", "met", "note")]
        for r in self.rows:
            unit = UNITS.get(r["unit"], " " + r["unit"])
            value = "n/a" if r["value"] is None else f"{r['value']:.3f}{unit}"
            target = "-" if r["target"] is None else f"<= {r['target']:g}{unit}"
            met = "-" if r["met"] is None else ("yes" if r["met"] else "no")
            cells.append((r["measure"], value, target, met, r["note"]))
        widths = [max(len(row[i]) for row in cells) for i in range(4)]
        for row in cells:
            print(f"{row[0]:<{widths[0]}}  {row[1]:>{widths[1]}}  {row[2]:<{widths[2]}}  "
                  f"{row[3]:<{widths[3]}}  {row[4]}")

    def json(self):
        return {"machine": machine(), "scale": self.scale, "results": self.rows}

    def write_json(self, path):
        with open(path, "w") as out:
            json.dump(self.json(), out, indent=2)
