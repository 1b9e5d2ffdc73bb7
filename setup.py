"""The compiled core of the Python package, built by the project's CMake
build (its own FP flags, no -march) with libpband linked in statically,
so the installed package needs nothing else. PBAND_PIP_BUILD_DIR names a
CMake build folder to reuse between builds."""
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent


def version():
    text = (ROOT / "CMakeLists.txt").read_text()
    return re.search(r"project\(pband\s+VERSION\s+([0-9.]+)", text).group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        folder = os.environ.get("PBAND_PIP_BUILD_DIR")
        build = Path(folder or Path(self.build_temp) / "cmake").resolve()
        compilers = [f"-DCMAKE_C_COMPILER={os.environ.get('CC', 'gcc')}",
                     f"-DCMAKE_CXX_COMPILER={os.environ.get('CXX', 'g++')}"]
        subprocess.run(
            ["cmake", "-S", str(ROOT), "-B", str(build), "-G", "Ninja",
             "-DCMAKE_BUILD_TYPE=Release", "-DBUILD_SHARED_LIBS=OFF",
             "-DPBAND_BUILD_PYTHON=ON", "-DPBAND_BUILD_TESTS=OFF",
             "-DPBAND_BUILD_EXAMPLES=OFF",
             f"-DPython_EXECUTABLE={sys.executable}", *compilers],
            check=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL",
                              str(os.cpu_count() or 1))
        subprocess.run(["cmake", "--build", str(build), "--target", "_pband",
                        "--parallel", jobs], check=True)
        built = next((build / "python" / "pband").glob("_pband*.so"))
        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)


setup(version=version(),
      ext_modules=[Extension("pband._pband", sources=[])],
      cmdclass={"build_ext": CMakeBuild})
