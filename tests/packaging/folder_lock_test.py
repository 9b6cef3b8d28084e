#!/usr/bin/env python3
"""Reads the folder protection back from a built installer package and checks it.

    folder_lock_test.py PACKAGE.msi

Wine's installer ignores permission tables and Wine enforces no ACLs, so the
package itself is the evidence: its MsiLockPermissionsEx rows must make
Administrators the owner of C:\\DALQ and C:\\DALQ\\Pitchkeeper and give them
a protected DACL of exactly three entries, and the package must ask for the
installer version that applies that table. The actions that make the
folders, refuse planted or moved ones, order an upgrade and end running
copies of the program are read back from the sequences the same way.
"""
import re
import subprocess
import sys
from pathlib import Path

FULL_ACCESS = 0x1F01FF  # FILE_ALL_ACCESS
READ_AND_EXECUTE = 0x1200A9  # READ_CONTROL | SYNCHRONIZE | read data, EA, attributes | execute
EXPECTED_ACES = {
    ("A", frozenset({"OI", "CI"}), FULL_ACCESS, "S-1-5-18"),  # SYSTEM
    ("A", frozenset({"OI", "CI"}), FULL_ACCESS, "S-1-5-32-544"),  # Administrators
    ("A", frozenset({"OI", "CI"}), READ_AND_EXECUTE, "S-1-5-32-545"),  # Users
}
LOCKED_FOLDERS = {"[WindowsVolume]DALQ", "[WindowsVolume]DALQ\\Pitchkeeper"}

# access right abbreviations of the security descriptor string format
RIGHTS = {
    "GA": 0x10000000, "GR": 0x80000000, "GW": 0x40000000, "GX": 0x20000000,
    "RC": 0x00020000, "SD": 0x00010000, "WD": 0x00040000, "WO": 0x00080000,
    "FA": 0x001F01FF, "FR": 0x00120089, "FW": 0x00120116, "FX": 0x001200A0,
    "CC": 0x1, "DC": 0x2, "LC": 0x4, "SW": 0x8, "RP": 0x10, "WP": 0x20,
    "DT": 0x40, "LO": 0x80, "CR": 0x100,
}
SID_ALIASES = {
    "SY": "S-1-5-18", "BA": "S-1-5-32-544", "BU": "S-1-5-32-545", "BG": "S-1-5-32-546",
    "WD": "S-1-1-0", "AU": "S-1-5-11", "CO": "S-1-3-0", "IU": "S-1-5-4", "PU": "S-1-5-32-547",
}
INHERITANCE_FLAGS = {"OI", "CI", "NP", "IO", "ID", "SA", "FA"}
DACL_FLAGS = ("NO_ACCESS_CONTROL", "AR", "AI", "P")

failures = []


def fail(message):
    failures.append(message)
    print("FAIL: " + message)


def export_table(package, table):
    """The rows of one table as dictionaries by column name; None when the table is absent."""
    result = subprocess.run(["msiinfo", "export", package, table], capture_output=True, text=True)
    if result.returncode != 0:
        return None
    lines = result.stdout.replace("\r\n", "\n").rstrip("\n").split("\n")
    columns = lines[0].split("\t")
    return [dict(zip(columns, line.split("\t"))) for line in lines[3:]]


def package_page_count(package):
    summary = subprocess.run(["msiinfo", "suminfo", package], capture_output=True, text=True,
                             check=True).stdout
    found = re.search(r"^Version: (\d+)", summary, re.MULTILINE)
    return int(found.group(1)) if found else 0


def split_components(sddl):
    """{'O': ..., 'G': ..., 'D': ..., 'S': ...} of a security descriptor string."""
    parts = re.findall(r"([OGDS]):((?:\([^)]*\)|[^()])*?)(?=[OGDS]:|$)", sddl)
    if "".join(letter + ":" + body for letter, body in parts) != sddl:
        return None
    return dict(parts)


def split_two_letter_codes(text):
    return [text[i:i + 2] for i in range(0, len(text), 2)] if len(text) % 2 == 0 else None


def parse_rights(text):
    if re.fullmatch(r"0[xX][0-9a-fA-F]+|\d+", text):
        return int(text, 0)
    codes = split_two_letter_codes(text)
    if not codes or any(code not in RIGHTS for code in codes):
        return None
    mask = 0
    for code in codes:
        mask |= RIGHTS[code]
    return mask


def parse_ace(text):
    fields = text.split(";")
    if len(fields) != 6:
        return None
    kind, flags, rights, object_guid, inherited_guid, sid = fields
    flag_codes = split_two_letter_codes(flags)
    if flag_codes is None or not set(flag_codes) <= INHERITANCE_FLAGS or object_guid or inherited_guid:
        return None
    return (kind, frozenset(flag_codes), parse_rights(rights), SID_ALIASES.get(sid, sid))


def parse_dacl(body):
    """(set of DACL flags, list of parsed ACEs) of the body after "D:"."""
    flags_text, _, aces_text = body.partition("(")
    flags = set()
    while flags_text:
        flag = next((f for f in DACL_FLAGS if flags_text.startswith(f)), None)
        if flag is None:
            return None, None
        flags.add(flag)
        flags_text = flags_text[len(flag):]
    aces_text = "(" + aces_text if aces_text else ""
    if not re.fullmatch(r"(\([^()]*\))*", aces_text):
        return flags, None
    return flags, [parse_ace(ace) for ace in re.findall(r"\(([^()]*)\)", aces_text)]


def format_ace(ace):
    if ace is None:
        return "(unreadable)"
    kind, flags, rights, sid = ace
    return f"({kind};{''.join(sorted(flags))};{rights if rights is None else hex(rights)};{sid})"


def check_descriptor(label, sddl):
    components = split_components(sddl)
    if components is None:
        fail(f"{label}: not a security descriptor string: {sddl}")
        return
    if set(components) != {"O", "D"}:
        fail(f"{label}: sets {sorted(components)}, expected the owner and the DACL (no group or SACL)")
        return
    if SID_ALIASES.get(components["O"], components["O"]) != "S-1-5-32-544":
        fail(f"{label}: owner {components['O']}, expected Administrators (BA)")
    flags, aces = parse_dacl(components["D"])
    if flags != {"P", "AI"}:
        fail(f"{label}: DACL flags {sorted(flags) if flags is not None else 'unreadable'}, "
             "expected protected (P) and auto-inherited (AI)")
    if aces is None or None in aces or len(aces) != len(EXPECTED_ACES) or set(aces) != EXPECTED_ACES:
        shown = "unreadable" if aces is None else " ".join(map(format_ace, aces))
        expected = " ".join(sorted(map(format_ace, EXPECTED_ACES)))
        fail(f"{label}: entries {shown}, expected exactly {expected}")


def folder_paths(directories):
    """Directory key -> path from the Directory table, rooted at the system volume."""
    rows = {row["Directory"]: row for row in directories}

    def resolve(key):
        if key == "WindowsVolume":
            return "[WindowsVolume]"
        row = rows[key]
        name = row["DefaultDir"].split(":")[0].split("|")[-1]
        if not row["Directory_Parent"] or row["Directory_Parent"] == key:
            return None
        parent = resolve(row["Directory_Parent"])
        if parent is None or name == ".":
            return parent
        return parent + name if parent.endswith("]") else parent + "\\" + name

    return {key: resolve(key) for key in rows}


def check_lock_rows(package):
    locks = export_table(package, "MsiLockPermissionsEx")
    if not locks:
        fail("the package has no MsiLockPermissionsEx rows")
        return
    paths = folder_paths(export_table(package, "Directory") or [])
    created = {row["Directory_"] for row in export_table(package, "CreateFolder") or []}
    locked = set()
    for row in locks:
        label = f"row {row['MsiLockPermissionsEx']}"
        if row["Table"] != "CreateFolder" or row["LockObject"] not in created:
            fail(f"{label}: locks {row['Table']} {row['LockObject']}, not a created folder")
            continue
        if row["Condition"]:
            fail(f"{label}: applies only when {row['Condition']}")
        check_descriptor(label, row["SDDLText"])
        locked.add(paths.get(row["LockObject"]))
    if locked != LOCKED_FOLDERS:
        fail(f"locked folders {sorted(map(str, locked))}, expected {sorted(LOCKED_FOLDERS)}")


def check_files_lie_in_locked_folders(package):
    components = {row["Component"]: row["Directory_"] for row in export_table(package, "Component")}
    paths = folder_paths(export_table(package, "Directory"))
    for row in export_table(package, "File"):
        folder = paths.get(components.get(row["Component_"]))
        if folder not in LOCKED_FOLDERS:
            fail(f"{row['FileName']} is installed into {folder}, outside the locked folders")


def check_uninstall_actions_run_in_the_script(package):
    """Windows Installer refuses a deferred action outside InstallInitialize
    to InstallFinalize; the uninstall steps also need the files still there."""
    sequence = {row["Action"]: int(row["Sequence"])
                for row in export_table(package, "InstallExecuteSequence")}
    steps = ["EndEveryResident", "DeleteLogonTask", "RemoveDriver"]
    numbers = [sequence.get(step, -1) for step in steps]
    in_order = numbers == sorted(set(numbers))
    if not (in_order and sequence["InstallInitialize"] < numbers[0]
            and numbers[-1] < sequence["RemoveFiles"]):
        fail(f"uninstall steps at {numbers}, not in order between InstallInitialize "
             f"{sequence['InstallInitialize']} and RemoveFiles {sequence['RemoveFiles']}")


IN_SCRIPT, ROLLBACK, AS_SYSTEM = 0x400, 0x100, 0x800
DLL_IN_BINARY_TABLE = 0x1
SET_PROPERTY = 51
FIRST_INSTALL = "NOT Installed AND NOT WIX_UPGRADE_DETECTED"
# (action, how it runs, condition); None: no condition expected
FOLDER_AND_STOP_ACTIONS = [
    ("RefuseMovedFolders", "immediate", None),
    ("RefuseExistingFolders", "immediate", FIRST_INSTALL),
    ("NoteOtherVersion", "immediate", 'REMOVE="ALL"'),
    ("MakeInstallFolders", "deferred", FIRST_INSTALL),
    ("RemoveInstallFolders", "rollback", FIRST_INSTALL),
    ("EndEveryResident", "deferred", '(REMOVE="ALL" AND NOT OtherVersionInstalled) OR WIX_UPGRADE_DETECTED'),
    ("DeleteLogonTask", None, 'REMOVE="ALL" AND NOT OtherVersionInstalled'),
    ("RemoveDriver", "deferred", 'REMOVE="ALL" AND NOT OtherVersionInstalled'),
]
RUNS = {"immediate": 0, "deferred": IN_SCRIPT | AS_SYSTEM, "rollback": IN_SCRIPT | ROLLBACK | AS_SYSTEM}


def header_folders():
    """The install folders as the shared header names them, with the trailing
    separator a directory property carries."""
    header = (Path(__file__).resolve().parents[2] / "include" / "pitchkeeper_shared.h").read_text()
    vendor = re.search(r'#define PK_VENDOR_DIR "(.*)"', header).group(1).replace("\\\\", "\\")
    return {"DALQDIR": vendor + "\\", "INSTALLDIR": vendor + "\\Pitchkeeper\\"}


def check_custom_action(actions, name, runs):
    action = actions.get(name)
    if action is None:
        fail(f"the package has no {name} action")
        return
    kind = int(action["Type"])
    # the impersonation bit means nothing outside the script
    mask = IN_SCRIPT | ROLLBACK | (AS_SYSTEM if runs != "immediate" else 0)
    if runs is not None and (kind & 0x3F != DLL_IN_BINARY_TABLE or action["Target"] != name or
                             kind & mask != RUNS[runs]):
        fail(f"{name}: type {kind}, target {action['Target']}, expected the DLL entry {name} "
             f"run {runs}" + (" as SYSTEM" if runs != "immediate" else ""))


def check_folders_and_running_copies(package):
    """A first install refuses existing folders before the script, makes them
    locked before CreateFolders, and removes them again on rollback; the
    folders cannot be moved; an upgrade removes the old version only after
    the new one is in place; uninstall and upgrade end the residents before
    files are replaced or removed, a removal while another version stays
    leaves that version's task, driver and residents alone."""
    rows = {row["Action"]: row for row in export_table(package, "InstallExecuteSequence")}
    actions = {row["Action"]: row for row in export_table(package, "CustomAction")}
    number = {name: int(row["Sequence"]) for name, row in rows.items()}
    for name, runs, condition in FOLDER_AND_STOP_ACTIONS:
        check_custom_action(actions, name, runs)
        if (rows.get(name, {}).get("Condition") or None) != condition:
            fail(f"{name} runs when {rows.get(name, {}).get('Condition')}, expected {condition}")
    for name in ("RefuseExistingFolders", "NoteOtherVersion"):
        if not number.get(name, 9999) < number["InstallInitialize"]:
            fail(f"{name} at {number.get(name)}, not before InstallInitialize")
    make = number.get("MakeInstallFolders", -1)
    if not (number["InstallInitialize"] < make < number.get("RemoveInstallFolders", -1)
            < number["CreateFolders"] < number["InstallFiles"]):
        fail(f"MakeInstallFolders at {make}, not after InstallInitialize and right before its "
             "rollback, CreateFolders and InstallFiles")
    end = number.get("EndEveryResident", -1)
    if not number["InstallInitialize"] < end < min(number["RemoveFiles"], number["InstallFiles"]):
        fail(f"EndEveryResident at {end}, not before files are removed or installed")
    if not (number.get("InstallExecute", -1) < number["RemoveExistingProducts"] < number["InstallFinalize"]
            and number["InstallFiles"] < number.get("InstallExecute", -1)):
        fail(f"RemoveExistingProducts at {number['RemoveExistingProducts']}, not between "
             "InstallExecute and InstallFinalize, after the new files")
    check_fixed_folders(package, rows, actions)
    properties = {row["Property"]: row["Value"] for row in export_table(package, "Property")}
    if properties.get("MSIRMSHUTDOWN") != "1":
        fail(f"MSIRMSHUTDOWN is {properties.get('MSIRMSHUTDOWN')}, expected 1 (force if unanswered)")
    removed = [row for row in export_table(package, "RemoveFile") or [] if row["FileName"]]
    if [(row["FileName"], row["DirProperty"], row["InstallMode"]) for row in removed] != [
            ("error.txt", "INSTALLDIR", "2")]:
        fail(f"the uninstall removes {removed}, expected error.txt in the install folder")


def check_fixed_folders(package, execute_rows, actions):
    """Both sequences set the folders to the header's after the given values
    were checked and before they are costed."""
    ui_rows = {row["Action"]: row for row in export_table(package, "InstallUISequence")}
    setters = {action["Source"]: (name, action["Target"]) for name, action in actions.items()
               if int(action["Type"]) & 0x3F == SET_PROPERTY}
    for directory, folder in header_folders().items():
        name, value = setters.get(directory, (None, None))
        if value != folder:
            fail(f"{directory} is set to {value}, expected {folder}")
            continue
        for label, rows in (("execute", execute_rows), ("UI", ui_rows)):
            at = int(rows.get(name, {}).get("Sequence", -1))
            if rows.get(name, {}).get("Condition") or not 0 < at < int(rows["CostFinalize"]["Sequence"]):
                fail(f"{name} at {at} in the {label} sequence, not always before CostFinalize")
        if not int(execute_rows.get("RefuseMovedFolders", {}).get("Sequence", 9999)) < \
                int(execute_rows[name]["Sequence"]):
            fail(f"RefuseMovedFolders does not check {directory} before {name} sets it")


def main(package):
    # Windows Installer reads MsiLockPermissionsEx from version 5.0 on, and
    # refuses a package that also holds the older LockPermissions table
    if package_page_count(package) < 500:
        fail(f"the package asks for installer version {package_page_count(package)}, below 500")
    if export_table(package, "LockPermissions") is not None:
        fail("the package also holds a LockPermissions table")
    check_lock_rows(package)
    check_files_lie_in_locked_folders(package)
    check_uninstall_actions_run_in_the_script(package)
    check_folders_and_running_copies(package)
    if failures:
        print(f"{len(failures)} check(s) failed")
        return 1
    print("the install folders are locked down")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
