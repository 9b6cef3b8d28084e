#!/usr/bin/env python3
"""Reads the release bundle's driver package and images back and checks them.

    driver_package_test.py DIST_DIR VERSION

- The INF: complete Version section, catalog name, PnpLockdown, DriverVer of
  VERSION; the architecture-decorated install sections of a primitive driver
  doing what the undecorated ones do that the tray program and the
  uninstaller run by name; no Manufacturer section.
- The attestation cabinet: signed, one folder holding the INF without its
  undecorated sections, the driver without its signature, and its PDB.
- Each image: a CodeView record naming its PDB in dist/ without a folder, no
  COFF symbol table, a version resource of VERSION with its own names.
"""
import re
import struct
import subprocess
import sys
import tempfile
from pathlib import Path

dist = Path(sys.argv[1])
version = sys.argv[2]
failures = []
work = Path(tempfile.mkdtemp())
UNDECORATED = ["defaultinstall", "defaultinstall.services", "defaultuninstall", "defaultuninstall.services"]
IMAGES = {  # file: (description, file type, subtype)
    "Pitchkeeper_x64.exe": ("Velmora Pitchkeeper", 1, 0),
    "Lorvex.exe": ("Pitchkeeper clean-up", 1, 0),
    "VELMORABEEP.sys": ("VELMORABEEP tone driver", 3, 7),
}


def check(condition, message):
    if not condition:
        failures.append(message)
        print("FAIL: " + message)


def run(*command):
    return subprocess.run(command, capture_output=True, check=True).stdout


def sections(path):
    """{lower-case section name: [entry lines without comments or spaces]}"""
    result, current = {}, None
    for line in path.read_text().splitlines():
        line = re.sub(r"\s+", "", line.split(";")[0]) if not line.startswith('"') else line
        if line.startswith("["):
            current = result.setdefault(line[1:-1].lower(), [])
        elif line and current is not None:
            current.append(line)
    return result


def check_inf(inf, label):
    version_section = dict(line.split("=", 1) for line in inf["version"])
    for key in ("Provider", "Class", "ClassGuid"):
        check(version_section.get(key), f"{label}: Version has no {key}")
    check(version_section.get("CatalogFile") == "VELMORABEEP.cat", f"{label}: no catalog file named")
    check(version_section.get("PnpLockdown") == "1", f"{label}: PnpLockdown is not 1")
    check(version_section.get("DriverVer", "").endswith("," + version + ".0"), f"{label}: DriverVer is not {version}")
    check("manufacturer" not in inf, f"{label} has a Manufacturer section")
    check("LegacyUninstall=1" in inf.get("defaultuninstall.ntamd64", []), f"{label}: uninstall not legacy-only")


shipped = sections(dist / "VELMORABEEP.inf")
check_inf(shipped, "VELMORABEEP.inf")
for name in UNDECORATED:
    decorated = name.replace("install", "install.ntamd64", 1)
    twin = [line for line in shipped.get(decorated, []) if line != "LegacyUninstall=1"]
    check(name in shipped and shipped[name] == twin, f"[{name}] does not do what [{decorated}] does")

# the cabinet, unpacked
cab = dist / "VELMORABEEP-attestation.cab"
run("openssl", "x509", "-inform", "der", "-in", str(dist / "VELMORA-test.cer"), "-out", str(work / "cert.pem"))
verify = subprocess.run(["osslsigncode", "verify", "-in", str(cab), "-CAfile", str(work / "cert.pem")],
                        capture_output=True)
check(verify.returncode == 0, "the attestation cabinet does not verify against VELMORA-test.cer")
run("gcab", "--extract", "--directory", str(work / "cab"), str(cab))
held = sorted(str(p.relative_to(work / "cab")) for p in (work / "cab").rglob("*") if p.is_file())
check(held == ["VELMORABEEP/VELMORABEEP.inf", "VELMORABEEP/VELMORABEEP.pdb", "VELMORABEEP/VELMORABEEP.sys"],
      f"the cabinet holds {held}")
submitted = sections(work / "cab/VELMORABEEP/VELMORABEEP.inf")
check_inf(submitted, "the submitted INF")
check(submitted == {k: v for k, v in shipped.items() if k not in UNDECORATED},
      "the submitted INF is not the shipped one without its undecorated sections")
run("osslsigncode", "remove-signature", "-in", str(dist / "VELMORABEEP.sys"), "-out", str(work / "driver.sys"))
check((work / "cab/VELMORABEEP/VELMORABEEP.sys").read_bytes() == (work / "driver.sys").read_bytes(),
      "the submitted driver is not dist/VELMORABEEP.sys without its signature")
check((work / "cab/VELMORABEEP/VELMORABEEP.pdb").read_bytes() == (dist / "VELMORABEEP.pdb").read_bytes(),
      "the submitted PDB is not dist/VELMORABEEP.pdb")


def codeview_and_symbols(data):
    """(PDB name, GUID bytes) of the CodeView record, and the COFF symbol count."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections_count, _, symbol_table, symbols, optional_size = struct.unpack_from("<HIIIH", data, pe + 6)
    optional = pe + 24
    directories = optional + (112 if struct.unpack_from("<H", data, optional)[0] == 0x20B else 96)
    debug_rva, debug_size = struct.unpack_from("<II", data, directories + 6 * 8)
    for i in range(sections_count):
        header = optional + optional_size + 40 * i
        size, rva, _, raw = struct.unpack_from("<IIII", data, header + 8)
        for entry in range(debug_rva, debug_rva + debug_size, 28):
            if rva <= entry < rva + size and struct.unpack_from("<I", data, entry - rva + raw + 12)[0] == 2:
                record = struct.unpack_from("<I", data, entry - rva + raw + 24)[0]
                if data[record:record + 4] == b"RSDS":
                    name = data[record + 24:data.index(b"\0", record + 24)].decode()
                    return name, data[record + 4:record + 20], symbol_table or symbols
    return None, None, symbol_table or symbols


def version_string(blob, key):
    """a StringFileInfo value: its key, NUL padding, then the text"""
    found = re.search(re.escape(key) + "\0+([^\0]*)", blob.decode("utf-16-le", errors="replace"))
    return found.group(1) if found else None


major, minor, patch = (int(part) for part in version.split("."))
for file, (description, file_type, subtype) in IMAGES.items():
    data = (dist / file).read_bytes()
    pdb_name, guid, symbols = codeview_and_symbols(data)
    stem = file.rsplit(".", 1)[0]
    check(pdb_name == stem + ".pdb", f"{file}: CodeView record names {pdb_name!r}")
    pdb = dist / (stem + ".pdb")
    check(pdb.is_file() and guid is not None and guid in pdb.read_bytes(), f"{file}: dist/{stem}.pdb is not its PDB")
    check(symbols == 0, f"{file} carries a COFF symbol table")
    blob = run("wrestool", "--extract", "--raw", "--type=16", str(dist / file))
    fixed = blob.find(struct.pack("<I", 0xFEEF04BD))
    file_ms, file_ls = struct.unpack_from("<II", blob, fixed + 8)
    kind = struct.unpack_from("<II", blob, fixed + 36)
    check(fixed > 0 and (file_ms, file_ls) == (major << 16 | minor, patch << 16), f"{file}: wrong FILEVERSION")
    check(kind == (file_type, subtype), f"{file}: file type and subtype are {kind}")
    expected = {"CompanyName": "DALQ", "FileDescription": description, "FileVersion": version,
                "ProductVersion": version, "OriginalFilename": file}
    for key, value in expected.items():
        found = version_string(blob, key)
        check(found == value, f"{file}: {key} is {found!r}, not {value!r}")

if failures:
    print(f"{len(failures)} check(s) failed")
    sys.exit(1)
print("the driver package, the cabinet and the images' debug records and version resources are as built")
