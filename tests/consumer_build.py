"""Builds the native callers of the modules' rows (tests/consumer/, bench/)
against include/zalmor/capi.h; conftest's native_caller fixture builds each once."""

import importlib.util
import os
import pathlib
import shutil
import subprocess
import sys
import sysconfig

ROOT = pathlib.Path(__file__).resolve().parent.parent
FLAGS = ["-shared", "-fPIC", "-O1", "-Wall", "-Wextra", "-Werror", "-pedantic",
         "-Wno-missing-field-initializers", "-pthread"]
LANGUAGES = {"c": ("cc", ["-x", "c", "-std=c99"]), "cpp": ("c++", ["-x", "c++", "-std=c++17"])}


def build(source, name, out_dir, language="c"):
    """Compiles the caller `source` (relative to the repository) as `language`
    ("c" or "cpp") into the module `name` (CONSUMER_NAME), and imports it."""
    compiler, extra = LANGUAGES[language]
    if shutil.which(compiler) is None:
        raise RuntimeError(f"{compiler} is not installed")
    target = pathlib.Path(out_dir) / (name + sysconfig.get_config_var("EXT_SUFFIX"))
    command = [compiler, *extra, *FLAGS, f"-DCONSUMER_NAME={name}", "-I", str(ROOT / "include"),
               "-I", sysconfig.get_paths()["include"], str(ROOT / source), "-o", str(target)]
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    subprocess.run(command, check=True, capture_output=True, text=True, env=env)
    spec = importlib.util.spec_from_file_location(name, target)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    sys.modules[name] = module
    return module
