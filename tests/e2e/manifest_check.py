#!/usr/bin/env python3
"""The manifest of packed files as an independent reader sees it: wrestool
(icoutils) lists it as resource type 24, id 1, and its XML parses with the
execution level that valkrin-pack chose, uiAccess false, the supported
Windows versions, DPI awareness and the common controls 6.0.

usage: manifest_check.py VALKRIN-PACK WORK-FOLDER"""
import os
import subprocess
import sys
import xml.etree.ElementTree as ET

ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPAT = "{urn:schemas-microsoft-com:compatibility.v1}"
WINDOWS_SETTINGS = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"
# Vista, 7, 8, 8.1, 10 and 11.
SUPPORTED_OS = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",
}

# Options given, the level expected in the manifest.
CASES = [
    (["--run", "setup.exe"], "requireAdministrator"),  # temporary mode's default
    (["--folder", "C:\\Tool"], "asInvoker"),            # folder mode's default
    (["--run", "setup.exe", "--elevation", "asInvoker"], "asInvoker"),
    (["--run", "setup.exe", "--elevation", "highestAvailable"], "highestAvailable"),
    (["--folder", "C:\\Tool", "--elevation", "requireAdministrator"], "requireAdministrator"),
]


def check(condition, message):
    if not condition:
        raise AssertionError(message)


def manifest_of(exe):
    listing = subprocess.run(["wrestool", "-l", exe], capture_output=True, text=True, check=True).stdout
    check("--type=24 --name=1 " in listing, "wrestool lists no manifest:\n" + listing)
    return subprocess.run(["wrestool", "-x", "--raw", "--type=24", "--name=1", exe],
                          capture_output=True, check=True).stdout


def check_manifest(data, level):
    root = ET.fromstring(data)
    check(root.tag == ASM_V1 + "assembly", "root " + root.tag)
    requested = root.find(".//" + ASM_V3 + "requestedExecutionLevel")
    check(requested is not None, "no requestedExecutionLevel")
    check(requested.get("level") == level, "level %r, expected %r" % (requested.get("level"), level))
    check(requested.get("uiAccess") == "false", "uiAccess %r" % requested.get("uiAccess"))
    ids = {os_.get("Id") for os_ in root.iter(COMPAT + "supportedOS")}
    check(ids == SUPPORTED_OS, "supportedOS %r" % sorted(ids))
    dpi = root.find(".//" + WINDOWS_SETTINGS + "dpiAware")
    check(dpi is not None and dpi.text == "true", "no system DPI awareness")
    identities = [d.find(ASM_V1 + "assemblyIdentity")
                  for d in root.iter(ASM_V1 + "dependentAssembly")]
    controls = [i for i in identities if i is not None and i.get("name") == "Microsoft.Windows.Common-Controls"]
    check(len(controls) == 1, "no common-controls dependency")
    check(controls[0].get("version") == "6.0.0.0", "common controls " + str(controls[0].get("version")))
    check(controls[0].get("publicKeyToken") == "6595b64144ccf1df", "common controls token")


def main():
    pack, work = sys.argv[1], sys.argv[2]
    os.makedirs(work, exist_ok=True)
    payload = os.path.join(work, "readme.txt")
    with open(payload, "w") as f:
        f.write("read me\n")
    failures = 0
    for number, (options, level) in enumerate(CASES):
        exe = os.path.join(work, "manifest-%d.exe" % number)
        try:
            subprocess.run([pack, "-o", exe, "--method", "lh0"] + options + [payload],
                           capture_output=True, check=True)
            check_manifest(manifest_of(exe), level)
            shown = subprocess.run([pack, "--inspect", exe], capture_output=True, text=True, check=True).stdout
            check("elevation      %s\n" % level in shown, "--inspect shows:\n" + shown)
            print("ok   %s -> %s" % (" ".join(options), level))
        except (AssertionError, subprocess.CalledProcessError, ET.ParseError) as error:
            failures += 1
            print("FAIL %s -> %s: %s" % (" ".join(options), level, error))
    print("%d passed, %d failed" % (len(CASES) - failures, failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
