"""Runs the unit tests of the pure C++ cores (tests/native), which `make build`
builds (`make test-sanitized` the sanitized variant, selected here by
ZALMOR_SANITIZED=1). Without make, the test brings the build up to date itself."""

import os
import shutil
import subprocess
import sys

import pytest

from conftest import ROOT, SANITIZED

PORTABLE = os.environ.get("ZALMOR_PORTABLE") == "1"
BUILD = ROOT / "build" / ("core-tests" + ("-sanitized" if SANITIZED else "") + ("-portable" if PORTABLE else ""))
# The build tools installed beside the interpreter come first.
ENV = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
ENV["PATH"] = os.pathsep.join([os.path.dirname(sys.executable), os.environ.get("PATH", "")])


def test_core_unit_tests():
    cmake = shutil.which("cmake", path=ENV["PATH"])
    if not (BUILD / "build.ninja").exists():
        if cmake is None:
            pytest.skip("cmake is not installed and the core tests are not built")
        subprocess.run([cmake, "-S", str(ROOT / "tests" / "native"), "-B", str(BUILD), "-G", "Ninja",
                        "-DCMAKE_BUILD_TYPE=RelWithDebInfo", f"-DZALMOR_SANITIZE={'ON' if SANITIZED else 'OFF'}",
                        f"-DZALMOR_PORTABLE={'ON' if PORTABLE else 'OFF'}"],
                       check=True, capture_output=True, env=ENV)
    if cmake is not None:  # nothing to do after `make build`
        subprocess.run([cmake, "--build", str(BUILD)], check=True, capture_output=True, env=ENV)
    run = subprocess.run([str(BUILD / "core_tests")], capture_output=True, text=True, env=ENV)
    assert run.returncode == 0, run.stdout + run.stderr
