#!/usr/bin/env python3
"""Builds the demo's sample release from our own stand-ins (tests and demo only).

    make-sample-release.py BUILT_TOOLS_DIR OUT_DIR

BUILT_TOOLS_DIR is the build's tools folder (build/<preset>/tools): zadig-2.3.exe, and the
versioned product programs in demo-release/ and demo-update/ with their version.json. OUT_DIR
receives:

  release/release.json, release/Tavro-<version>-<build>.zip
                      what tools/release-server serves: the package, a zip of the tree below
  release-files/      the release's files as the package holds them, laid out as under the
                      install root (Tavro.exe, Tavro.ico, Ostrilan/, "USB Driver/", data folders)
  Update/Unpacked/    the newer version's complete file set, as updater mode expects it under
                      the install root

The package is at least 40 MiB, nearly all of it incompressible, so a download in four parts
and a pause are worth watching. The output is the same bytes on every run.
"""

import json
import os
import random
import shutil
import struct
import sys
import zipfile

MIB = 1024 * 1024
MIN_PACKAGE_SIZE = 40 * MIB
ZIP_TIME = (2026, 5, 30, 12, 0, 0)

# Large files of random bytes, the same in both versions: (path, size, seed).
DATA_FILES = [
    ("database/reference.db", 36 * MIB, 1),
    ("RecordedFiles/Example/session-001.rec", 8 * MIB, 2),
]


def icon(rgb):
    """A 32 x 32 icon file: a disc of colour `rgb` with a white ring, on transparency."""
    size = 32
    pixels = bytearray()
    for row in range(size):  # bottom-up, as a device-independent bitmap is stored
        for column in range(size):
            dx, dy = column - 15.5, row - 15.5
            distance = (dx * dx + dy * dy) ** 0.5
            if distance > 15:
                pixels += bytes((0, 0, 0, 0))
            elif 9 < distance < 11.5:
                pixels += bytes((255, 255, 255, 255))
            else:
                pixels += bytes((rgb[2], rgb[1], rgb[0], 255))
    mask = bytes(size * 4)  # 1 bit per pixel, rows padded to 32 bits: all drawn by alpha
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(pixels) + len(mask),
                         0, 0, 0, 0)
    image = header + pixels + mask
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack(
        "<BBBBHHII", size, size, 0, 0, 1, 32, len(image), 6 + 16)
    return directory + image


def read_version(folder):
    with open(os.path.join(folder, "version.json"), encoding="utf-8") as version_file:
        version = json.load(version_file)
    return version["Version"], version["BuildNumber"]


def write(path, content):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as output:
        output.write(content)


def program(path):
    if not os.path.isfile(path):
        sys.exit(f"make-sample-release: {path} is missing; build the tools first")
    with open(path, "rb") as program_file:
        return program_file.read()


def file_set(built, stage, extra_stimulation):
    """The files of one version, as {relative path: bytes}."""
    programs = os.path.join(built, f"demo-{stage}")
    version, build_number = read_version(programs)
    files = {
        "Tavro.exe": program(os.path.join(programs, "Tavro.exe")),
        "Tavro.ico": icon((0, 126, 220)),
        "Ostrilan/Ostrilan.exe": program(os.path.join(programs, "Ostrilan.exe")),
        "Ostrilan/Ostrilan.ico": icon((46, 160, 67)),
        "USB Driver/zadig-2.3.exe": program(os.path.join(built, "zadig-2.3.exe")),
        "README.txt": (f"Tavro {version} (build {build_number})\r\n"
                       "Sample release built from stand-ins for the installer demo.\r\n").encode(),
        "Protocol/default.protocol": (f"[Protocol]\r\nName=Default\r\nVersion={version}\r\n"
                                      "Channels=8\r\nSampleRate=2000\r\n").encode(),
        "Stimulation/patterns/standard.json":
            b'{"name": "standard", "pulses": [120, 80, 120], "intervalMs": 250}\r\n',
    }
    if extra_stimulation:
        files["Stimulation/patterns/gentle.json"] = (
            b'{"name": "gentle", "pulses": [60, 40, 60], "intervalMs": 400}\r\n')
    for path, size, seed in DATA_FILES:
        files[path] = random.Random(seed).randbytes(size)
    return version, build_number, files


def write_tree(folder, files):
    shutil.rmtree(folder, ignore_errors=True)
    for relative, content in files.items():
        write(os.path.join(folder, relative), content)


def write_package(path, files):
    with zipfile.ZipFile(path, "w") as package:
        for relative in sorted(files):
            entry = zipfile.ZipInfo(relative, ZIP_TIME)
            entry.external_attr = 0o644 << 16
            content = files[relative]
            # Random data does not shrink: store it, deflate the rest.
            entry.compress_type = zipfile.ZIP_STORED if len(content) >= MIB else zipfile.ZIP_DEFLATED
            package.writestr(entry, content)


def main(argv):
    if len(argv) != 2:
        print(__doc__.strip().splitlines()[2].strip(), file=sys.stderr)
        return 2
    built, out = argv
    version, build_number, release = file_set(built, "release", extra_stimulation=False)
    update_version, update_build, update = file_set(built, "update", extra_stimulation=True)

    write_tree(os.path.join(out, "release-files"), release)
    write_tree(os.path.join(out, "Update", "Unpacked"), update)

    release_folder = os.path.join(out, "release")
    shutil.rmtree(release_folder, ignore_errors=True)
    os.makedirs(release_folder)
    package_name = f"Tavro-{version}-{build_number}.zip"
    package_path = os.path.join(release_folder, package_name)
    write_package(package_path, release)
    package_size = os.path.getsize(package_path)
    if package_size < MIN_PACKAGE_SIZE:
        print(f"make-sample-release: the package has only {package_size} bytes", file=sys.stderr)
        return 1
    with open(os.path.join(release_folder, "release.json"), "w", encoding="utf-8") as manifest:
        json.dump({"Version": version, "BuildNumber": build_number, "Package": package_name},
                  manifest, indent=2)
        manifest.write("\n")
    print(f"release {version} build {build_number}: {package_path} ({package_size} bytes, "
          f"{len(release)} files); update {update_version} build {update_build}: "
          f"{os.path.join(out, 'Update', 'Unpacked')} ({len(update)} files)")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
