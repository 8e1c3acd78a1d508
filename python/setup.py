"""Builds the su55if package from this checkout: the version comes from the
top-level CMakeLists.txt, and the procedure description
(include/su55if_procedures.json) is copied into the package as
procedures.json, together with origin.txt naming the checkout, whose build
tree the installed package falls back on for the library."""

import re
from pathlib import Path

from setuptools import setup
from setuptools.command.build_py import build_py

CHECKOUT = Path(__file__).resolve().parent.parent
DESCRIPTION = CHECKOUT / "include" / "su55if_procedures.json"


def project_version() -> str:
    text = (CHECKOUT / "CMakeLists.txt").read_text(encoding="utf-8")
    match = re.search(r"project\(\s*su55if\s+VERSION\s+([0-9.]+)", text)
    if not match:
        raise SystemExit(f"{CHECKOUT / 'CMakeLists.txt'}: no project(su55if VERSION ...)")
    return match.group(1)


class BuildWithDescription(build_py):
    def run(self):
        super().run()
        if not DESCRIPTION.is_file():
            raise SystemExit(f"{DESCRIPTION}: not found; build the package from a checkout of su55if")
        package = Path(self.build_lib) / "su55if"
        self.mkpath(str(package))
        self.copy_file(str(DESCRIPTION), str(package / "procedures.json"))
        (package / "origin.txt").write_text(str(CHECKOUT) + "\n", encoding="utf-8")


setup(version=project_version(), cmdclass={"build_py": BuildWithDescription})
