"""Builds edgebin._edgebin with the project's own CMake build, so that the module
pip installs is compiled exactly as the one in the build tree."""

import os
import shutil
import subprocess
import sys
import sysconfig
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build_dir = Path(self.build_temp).resolve() / "cmake"
        configure = [
            "cmake", "-S", str(ROOT), "-B", str(build_dir),
            "-DCMAKE_BUILD_TYPE=Release",
            f"-DPython_EXECUTABLE={sys.executable}",
            "-DEDGEBIN_BUILD_PYTHON=ON",
            "-DEDGEBIN_BUILD_TESTS=OFF",
            "-DEDGEBIN_BUILD_BENCH=OFF",
        ]
        try:
            # The pybind11 this interpreter imports (Debian's python3-pybind11, or
            # one a build environment installed) tells CMake where its files are.
            import pybind11
            configure.append(f"-Dpybind11_DIR={pybind11.get_cmake_dir()}")
        except ImportError:
            pass
        subprocess.run(configure, check=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", str(os.cpu_count() or 1))
        subprocess.run(
            ["cmake", "--build", str(build_dir), "--target", "_edgebin", "--parallel", jobs],
            check=True,
        )
        suffix = sysconfig.get_config_var("EXT_SUFFIX")
        built = build_dir / "python" / "edgebin" / f"_edgebin{suffix}"
        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)


# build/ belongs to the CMake build of the README; pip's in-tree build stays apart.
setup(
    ext_modules=[Extension("edgebin._edgebin", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    options={"build": {"build_base": "build-pip"}, "egg_info": {"egg_base": "build-pip"}},
)
