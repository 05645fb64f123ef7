"""A build backend for one pure-Python package: the wheel is a zip of the
package and its metadata (PEP 427), made from pyproject.toml alone, so that
installing needs nothing from a package registry."""

import base64
import hashlib
import io
import os
import re
import zipfile

_HERE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
_PACKAGE = "tallymat"
_FIXED_TIME = (1980, 1, 1, 0, 0, 0)  # the same bytes from every build


def _project():
    with open(os.path.join(_HERE, "pyproject.toml"), encoding="utf-8") as f:
        text = f.read()
    try:
        import tomllib
        return tomllib.loads(text)["project"]
    except ImportError:  # Python before 3.11: the few plain fields this file uses
        fields = dict(re.findall(r'^(\w[\w-]*) = "([^"]*)"', text, re.M))
        return {key: fields[key] for key in ("name", "version", "description", "requires-python")}


def _metadata(project):
    lines = ["Metadata-Version: 2.1", "Name: " + project["name"], "Version: " + project["version"],
             "Summary: " + project["description"], "License: MIT",
             "Requires-Python: " + project["requires-python"], "Description-Content-Type: text/markdown", ""]
    with open(os.path.join(_HERE, "README.md"), encoding="utf-8") as f:
        return "\n".join(lines) + "\n" + f.read()


def _record_line(path, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return "%s,sha256=%s,%d" % (path, digest, len(data))


def _files(project):
    files = []
    package = os.path.join(_HERE, _PACKAGE)
    for name in sorted(os.listdir(package)):
        if name.endswith(".py"):
            with open(os.path.join(package, name), "rb") as f:
                files.append((_PACKAGE + "/" + name, f.read()))
    info = "%s-%s.dist-info" % (project["name"], project["version"])
    files.append((info + "/METADATA", _metadata(project).encode()))
    files.append((info + "/WHEEL", b"Wheel-Version: 1.0\nGenerator: tallymat backend\nRoot-Is-Purelib: true\n"
                                   b"Tag: py3-none-any\n"))
    record = [_record_line(path, data) for path, data in files] + [info + "/RECORD,,"]
    files.append((info + "/RECORD", ("\n".join(record) + "\n").encode()))
    return files


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    project = _project()
    name = "%s-%s-py3-none-any.whl" % (project["name"], project["version"])
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as wheel:
        for path, data in _files(project):
            entry = zipfile.ZipInfo(path, _FIXED_TIME)
            entry.external_attr = 0o644 << 16
            wheel.writestr(entry, data, zipfile.ZIP_DEFLATED)
    with open(os.path.join(wheel_directory, name), "wb") as f:
        f.write(buffer.getvalue())
    return name


def get_requires_for_build_wheel(config_settings=None):
    return []
