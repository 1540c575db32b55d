"""Builds the native callers of the modules' rows in tests/consumer/ against
include/zalmor/capi.h: consumer.c (as C and as C++), kernels.c and the others,
which share tests/consumer/native_rows.h."""

import importlib.util
import os
import pathlib
import shutil
import subprocess
import sys
import sysconfig

ROOT = pathlib.Path(__file__).resolve().parent.parent
SOURCE = ROOT / "tests" / "consumer" / "consumer.c"
FLAGS = ["-shared", "-fPIC", "-O1", "-Wall", "-Wextra", "-Werror", "-pedantic",
         "-Wno-missing-field-initializers", "-pthread"]
LANGUAGES = {
    "c": ("cc", ["-x", "c", "-std=c99"]),
    "cpp": ("c++", ["-x", "c++", "-std=c++17"]),
}


def build(language, out_dir, source=SOURCE, stem="_zalmor_consumer", name=None, pedantic=True):
    """Compiles the caller `source` as `language` ("c" or "cpp") into the module
    `name` (by default `<stem>_<language>`) and imports it."""
    compiler, extra = LANGUAGES[language]
    if shutil.which(compiler) is None:
        raise RuntimeError(f"{compiler} is not installed")
    name = name or f"{stem}_{language}"
    target = pathlib.Path(out_dir) / (name + sysconfig.get_config_var("EXT_SUFFIX"))
    flags = [f for f in FLAGS if pedantic or f != "-pedantic"]
    command = [compiler, *extra, *flags, f"-DCONSUMER_NAME={name}",
               "-I", str(ROOT / "include"), "-I", sysconfig.get_paths()["include"],
               str(source), "-o", str(target)]
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    subprocess.run(command, check=True, capture_output=True, text=True, env=env)
    spec = importlib.util.spec_from_file_location(name, target)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    sys.modules[name] = module
    return module


def build_kernels(out_dir):
    """Compiles tests/consumer/kernels.c (C, with threads) and imports it."""
    return build("c", out_dir, ROOT / "tests" / "consumer" / "kernels.c", name="_zalmor_kernels")
