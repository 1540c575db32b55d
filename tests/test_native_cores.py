"""Builds and runs the unit tests of the pure C++ cores."""

import os
import pathlib
import shutil
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent


# The build tools installed beside the interpreter come first.
PATH = os.pathsep.join([os.path.dirname(sys.executable), os.environ.get("PATH", "")])


@pytest.mark.skipif(shutil.which("cmake", path=PATH) is None, reason="cmake is not installed")
def test_core_unit_tests():
    sanitized = os.environ.get("ZALMOR_SANITIZED") == "1"
    portable = os.environ.get("ZALMOR_PORTABLE") == "1"
    build = ROOT / "build" / ("core-tests" + ("-sanitized" if sanitized else "") + ("-portable" if portable else ""))
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    env["PATH"] = PATH
    configure = ["cmake", "-S", str(ROOT / "tests" / "native"), "-B", str(build), "-G", "Ninja",
                 "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
                 f"-DZALMOR_SANITIZE={'ON' if sanitized else 'OFF'}",
                 f"-DZALMOR_PORTABLE={'ON' if portable else 'OFF'}"]
    subprocess.run(configure, check=True, capture_output=True, env=env)
    subprocess.run(["cmake", "--build", str(build)], check=True, capture_output=True, env=env)
    run = subprocess.run([str(build / "core_tests")], capture_output=True, text=True, env=env)
    assert run.returncode == 0, run.stdout + run.stderr
