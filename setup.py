"""The build of the robosim package for pip and python3 -m build (see pyproject.toml).

The extension robosim._robosim is built by this project's CMake, as `make build`
builds it, but only its own target and without the window, the tests and the
benchmarks; the package's Python files are taken as they are.

ROBOSIM_PIP_BUILD_DIR names the folder for the builds (default build/pip), so a
second build, such as pip install after python3 -m build, only rebuilds what
changed. Each Python installation builds in a folder of its own there: CMake
keeps the Python it found, and another Python's build would fail on it.
CMAKE_BUILD_PARALLEL_LEVEL sets the compile jobs (default 2).
"""

import hashlib
import os
import pathlib
import re
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = pathlib.Path(__file__).resolve().parent


def python_build_folder():
    """The build folder of this Python installation (its virtual environments
    share it): its version's tag and a digest of where it is installed."""
    installation = hashlib.sha256(os.fsencode(os.path.realpath(sys.base_prefix))).hexdigest()
    return f"{sys.implementation.cache_tag}-{installation[:12]}"


BUILD_BASE = (pathlib.Path(os.environ.get("ROBOSIM_PIP_BUILD_DIR") or ROOT / "build" / "pip")
              / python_build_folder())


def project_version():
    """The version of the CMake project, the one the programs print."""
    text = (ROOT / "CMakeLists.txt").read_text(encoding="utf-8")
    match = re.search(r"project\(\s*RobotSimulator\s+VERSION\s+([0-9.]+)", text)
    if match is None:
        sys.exit("setup.py: no project(RobotSimulator VERSION ...) in CMakeLists.txt")
    return match.group(1)


class CMakeBuild(build_ext):
    """Builds the extension with CMake and copies it where setuptools packs it."""

    def build_extension(self, ext):
        cmake_dir = BUILD_BASE / "cmake"
        configure = [
            "cmake", "-S", str(ROOT), "-B", str(cmake_dir),
            "-DCMAKE_BUILD_TYPE=Release",
            f"-DPython3_EXECUTABLE={sys.executable}",
            "-DROBOSIM_BUILD_GUI=OFF", "-DROBOSIM_BUILD_TESTS=OFF",
            "-DROBOSIM_BUILD_BENCH=OFF", "-DROBOSIM_PACKAGING=OFF",
        ]
        if shutil.which("ninja") and not (cmake_dir / "CMakeCache.txt").exists():
            configure += ["-G", "Ninja"]
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", "2")
        subprocess.run(configure, check=True)
        subprocess.run(["cmake", "--build", str(cmake_dir), "--target", "robosim_python",
                        "--parallel", jobs], check=True)
        built = sorted((cmake_dir / "python" / "robosim").glob("_robosim*.so"))
        if len(built) != 1:
            sys.exit(f"setup.py: the build left {len(built)} extensions, not one, in {cmake_dir}")
        target = pathlib.Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built[0], target)


BUILD_BASE.mkdir(parents=True, exist_ok=True)
setup(
    version=project_version(),
    ext_modules=[Extension("robosim._robosim", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    # setuptools' own folders beside the CMake build, not in the source tree.
    options={"build": {"build_base": str(BUILD_BASE)}, "egg_info": {"egg_base": str(BUILD_BASE)}},
)
