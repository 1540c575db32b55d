"""What a benchmark run was measured on: the commit, the time, the processor,
the code the kernels dispatch to on it, the compilers and the versions of
Python and NumPy. bench/run.py prints it and keeps it in bench/results/bench.json.
"""
import datetime
import importlib
import os
import platform
import re
import subprocess

import numpy as np

# The instruction-set copies the build makes of a vector loop (GCC's
# target_clones, suffixes of the copies' symbols), best first, with the
# /proc/cpuinfo flags the loader wants before it picks one.
CLONES = (
    ("arch_x86_64_v4", "x86-64-v4", {"avx2", "fma", "bmi2", "avx512f", "avx512bw", "avx512cd",
                                     "avx512dq", "avx512vl"}),
    ("avx2", "avx2", {"avx2"}),
    ("default", "baseline", set()),
)
# The kernels with a hand-written copy per target (pow's squares, the complex
# lanes of cabs and csqrt, the sorts) take the best the processor has, asked
# at run time: x86-64-v4 for AVX-512, x86-64-v3 for AVX2 (common/kernel_target.h).
X86_64_V3 = {"avx2", "fma", "bmi1", "bmi2", "abm", "movbe", "f16c", "popcnt"}
HAND_DISPATCHED = (("AVX-512", CLONES[0][2] | X86_64_V3), ("AVX2", X86_64_V3), ("portable", set()))
BRENTHOSCA = "zalmor.ops.brenthosca"


def _run(command, cwd=None):
    try:
        done = subprocess.run(command, capture_output=True, text=True, cwd=cwd, timeout=30)
    except (OSError, subprocess.TimeoutExpired):
        return ""
    return done.stdout.strip() if done.returncode == 0 else ""


def commit(root):
    """The checked-out commit, marked "+changes" when the tree differs from it."""
    head = _run(["git", "rev-parse", "--short=12", "HEAD"], root)
    if not head:
        return "unknown"
    changed = _run(["git", "status", "--porcelain", "--untracked-files=no"], root)
    return head + ("+changes" if changed else "")


def cpu():
    """The processor's model name, with its family and model numbers (a
    virtual machine may give only a generic name), and its flags, from
    /proc/cpuinfo."""
    fields = {}
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                key, _, value = line.partition(":")
                fields.setdefault(key.strip(), value.strip())
                if key.strip() == "flags":
                    break
    except OSError:
        pass
    model = fields.get("model name") or platform.processor() or platform.machine()
    if "cpu family" in fields and "model" in fields:
        model += f" (family {fields['cpu family']}, model {fields['model']})"
    return model, set(fields.get("flags", "").split())


def dispatch(module_file, flags):
    """The copies the loaded module's vector loops run on this processor,
    counted by target ({"avx2": 20, ...}; {} for a portable build, which has
    none), and the target of the hand-dispatched kernels."""
    symbols = _run(["nm", module_file]).splitlines()
    loops = {}
    for line in symbols:
        name = line.rsplit(" ", 1)[-1]
        base, _, suffix = name.rpartition(".")
        if base and any(suffix == s for s, _, _ in CLONES):
            loops.setdefault(base, set()).add(suffix)
    picked = {}
    for copies in loops.values():
        best = next(label for suffix, label, needs in CLONES if suffix in copies and needs <= flags)
        picked[best] = picked.get(best, 0) + 1
    hand = next(label for label, needs in HAND_DISPATCHED if needs <= flags) if picked else "portable"
    return {"vector_loops": picked, "hand_dispatched": hand}


def compilers(module_file):
    """The compiler that built the modules (from the .comment section of
    brenthosca's shared object) and the one that builds the native bench."""
    with open(module_file, "rb") as f:
        found = re.findall(rb"(?:GCC: \([^)\x00]*\) [\w.\-]+|clang version [\w.\-]+)", f.read())
    bench_cc = _run(["cc", "--version"]).splitlines()
    return {"modules": found[0].decode() if found else "unknown",
            "bench": bench_cc[0] if bench_cc else "unknown"}


def describe(root):
    """Everything above, for the JSON."""
    model, flags = cpu()
    module_file = importlib.import_module(BRENTHOSCA).__file__
    return {"commit": commit(root),
            "time": datetime.datetime.now(datetime.timezone.utc).isoformat(timespec="seconds"),
            "processor": model, "cpus": os.cpu_count(), "dispatch": dispatch(module_file, flags),
            "compiler": compilers(module_file), "python": platform.python_version(),
            "numpy": np.__version__, "machine": platform.machine(), "modules": module_file}


def dispatch_text(d):
    """One line: "vector loops on avx2 (20), x86-64-v4 (3); hand-dispatched kernels on AVX-512"."""
    loops = ", ".join(f"{k} ({v})" for k, v in sorted(d["vector_loops"].items()))
    if not loops:
        return "portable build: plain C++ kernels"
    return f"vector loops on {loops}; hand-dispatched kernels on {d.get('hand_dispatched', '?')}"
