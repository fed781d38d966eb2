"""The package's build backend (the hooks pip calls to build a wheel).

The package is pure Python plus one generated module: juxhid/_tables.py,
written from the library's public headers by gen_tables.py. A wheel is a zip
of the files with a little metadata, so this backend needs nothing beyond the
standard library; pip installs from the source folder offline, with or
without build isolation. The headers are found in the checkout
(../../include from here) or in $JUXHID_INCLUDE_DIR.
"""

import base64
import hashlib
import importlib.util
import os
import re
import zipfile
from pathlib import Path

HERE = Path(__file__).resolve().parent.parent  # bindings/python
PACKAGE = "juxhid"
SUMMARY = "ctypes binding of the JUXHID library (one vendor's USB HID devices) and its simulated bus"
TAG = "py3-none-any"


def version():
    """The package's __version__, read without importing the package."""
    text = (HERE / PACKAGE / "__init__.py").read_text()
    return re.search(r'^__version__ = "([^"]+)"$', text, flags=re.M).group(1)


def include_dir():
    chosen = os.environ.get("JUXHID_INCLUDE_DIR")
    folder = Path(chosen) if chosen else HERE.parent.parent / "include"
    if not (folder / "juxhid_status.h").is_file():
        raise RuntimeError("juxhid: no juxhid_status.h in %s; build from a JUXHID checkout, or set "
                           "JUXHID_INCLUDE_DIR to the folder holding the library's headers" % folder)
    return folder


def generated_tables():
    spec = importlib.util.spec_from_file_location("gen_tables", HERE / "gen_tables.py")
    gen_tables = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(gen_tables)
    include = include_dir()
    return gen_tables.render(
        gen_tables.parse_status_table((include / "juxhid_status.h").read_text()),
        gen_tables.parse_enum((include / "juxhid_sim.h").read_text(), "JuxsimCall"),
        gen_tables.parse_enum((include / "juxhid_sim.h").read_text(), "JuxsimThread"))


def package_files():
    """(name in the wheel, bytes) of the package: its sources and the tables.
    A _site.py or _tables.py lying in the source folder is a build's, not
    the package's."""
    files = []
    for path in sorted((HERE / PACKAGE).iterdir()):
        if path.name in ("_site.py", "_tables.py") or not (path.suffix == ".py" or path.name == "py.typed"):
            continue
        files.append(("%s/%s" % (PACKAGE, path.name), path.read_bytes()))
    files.append(("%s/_tables.py" % PACKAGE, generated_tables().encode()))
    return files


def metadata_files(dist_info):
    metadata = ("Metadata-Version: 2.1\nName: %s\nVersion: %s\nSummary: %s\nRequires-Python: >=3.8\n"
                "Description-Content-Type: text/markdown\n\n%s"
                % (PACKAGE, version(), SUMMARY, (HERE / "README.md").read_text()))
    wheel = "Wheel-Version: 1.0\nGenerator: juxhid_build\nRoot-Is-Purelib: true\nTag: %s\n" % TAG
    return [(dist_info + "/METADATA", metadata.encode()), (dist_info + "/WHEEL", wheel.encode()),
            (dist_info + "/top_level.txt", (PACKAGE + "\n").encode())]


def record_line(name, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return "%s,sha256=%s,%d\n" % (name, digest, len(data))


# ---- The hooks pip calls ------------------------------------------------------

def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_sdist(config_settings=None):
    return []


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    stem = "%s-%s" % (PACKAGE, version())
    dist_info = stem + ".dist-info"
    files = package_files() + metadata_files(dist_info)
    record = "".join(record_line(name, data) for name, data in files) + dist_info + "/RECORD,,\n"
    files.append((dist_info + "/RECORD", record.encode()))
    name = "%s-%s.whl" % (stem, TAG)
    with zipfile.ZipFile(os.path.join(wheel_directory, name), "w", zipfile.ZIP_DEFLATED) as wheel:
        for member, data in files:
            wheel.writestr(zipfile.ZipInfo(member, date_time=(1980, 1, 1, 0, 0, 0)), data,
                           compress_type=zipfile.ZIP_DEFLATED)
    return name
