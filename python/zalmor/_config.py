"""zalmor-config: the compiler flags and directories a native module needs to
build against zalmor/capi.h. The header is all there is: nothing to link."""

import argparse
import sysconfig

import zalmor


def main(argv=None):
    parser = argparse.ArgumentParser(prog="zalmor-config", description=__doc__)
    answers = {
        "--cflags": ("include flags for zalmor/capi.h and the Python headers it includes",
                     lambda: f"-I{zalmor.get_include()} -I{sysconfig.get_paths()['include']}"),
        "--pkgconfigdir": ("the directory of zalmor.pc (for PKG_CONFIG_PATH)", zalmor.get_pkgconfig_dir),
        "--cmakedir": ("the directory of zalmor-config.cmake (zalmor_DIR)", zalmor.get_cmake_dir),
        "--version": ("zalmor's version", lambda: zalmor.__version__),
    }
    for flag, (help_text, _) in answers.items():
        parser.add_argument(flag, action="append_const", const=flag, dest="asked", help=help_text)
    asked = parser.parse_args(argv).asked
    if not asked:
        parser.error("ask for at least one of " + ", ".join(answers))
    for flag in asked:
        print(answers[flag][1]())


if __name__ == "__main__":
    main()
