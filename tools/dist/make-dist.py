#!/usr/bin/env python3
"""Builds the release archive from built trees:

    make-dist.py --x86 build/x86 --x64 build/x64 --linux build/host --out dist

writes OUT/vantor-installer-extensions-<VERSION>.zip holding, below one folder
of the same name, what a package author needs and nothing else (README.md,
"What the archive holds", lists it): x86/ and x64/ (VantorSetup.dll,
VantorDrivers.dll, patchinfo.exe, vantor-wirecheck.exe), linux/ (the Linux
build of vantor-wirecheck), package/ (the WiX includes and the example
product, as tracked in git), sample-application/<arch>/ (the
application the example patches: the test fixture rondo32.exe), README.md
without the part for those who build the project, and SHA256SUMS over all of
these.

The same tree gives the same bytes: the binaries are stripped of their debug
information with the PE time stamp taken from SOURCE_DATE_EPOCH (the last
commit's time unless set), and the archive has sorted entries, fixed times
and fixed permissions.

Signing: with VANTOR_SIGN_CERT (PEM or DER certificate chain) and
VANTOR_SIGN_KEY (its private key; VANTOR_SIGN_PASS its password, if any)
every .dll and .exe is signed with osslsigncode (SHA-256, signing time
SOURCE_DATE_EPOCH, no time-stamping server) before the sums are taken.
"""
import argparse
import hashlib
import os
import subprocess
import sys
import tempfile
import time
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
NAME = "vantor-installer-extensions"
TOOL_PREFIX = {"x86": "i686-w64-mingw32-", "x64": "x86_64-w64-mingw32-", "linux": ""}
# The earliest time a zip entry can carry.
ZIP_EPOCH = 315532800  # 1980-01-01


def fail(message):
    print("dist: %s" % message, file=sys.stderr)
    sys.exit(1)


def read_version():
    with open(os.path.join(ROOT, "VERSION")) as f:
        return f.readline().strip()


def source_date_epoch():
    value = os.environ.get("SOURCE_DATE_EPOCH")
    if not value:
        try:
            value = subprocess.run(["git", "-C", ROOT, "log", "-1", "--format=%ct"],
                                   capture_output=True, text=True, check=True).stdout.strip()
        except (OSError, subprocess.CalledProcessError):
            fail("no SOURCE_DATE_EPOCH and no git history to take it from")
    if not value.isdigit():
        fail("SOURCE_DATE_EPOCH is not a number: %r" % value)
    return int(value)


def windows_files(tree):
    """(name in the archive below <arch>/, path) of the Windows deliverables of one tree."""
    return [("VantorSetup.dll", os.path.join(tree, "VantorSetup.dll")),
            ("VantorDrivers.dll", os.path.join(tree, "VantorDrivers.dll")),
            ("patchinfo.exe", os.path.join(tree, "tools", "patchinfo.exe")),
            ("vantor-wirecheck.exe", os.path.join(tree, "tools", "wirecheck", "vantor-wirecheck.exe"))]


def present(path):
    if not os.path.isfile(path):
        fail("%s is missing: build the tree first (./run build)" % path)
    return path


# The README's part for those who build the project: not in the archive,
# which holds none of what it names.
SOURCE_ONLY_BEGIN = "<!-- source only: not in the release archive -->"
SOURCE_ONLY_END = "<!-- end of source only -->"


def archive_readme():
    with open(os.path.join(ROOT, "README.md"), encoding="utf-8") as f:
        lines = f.read().split("\n")
    if lines.count(SOURCE_ONLY_BEGIN) != 1 or lines.count(SOURCE_ONLY_END) != 1:
        fail("README.md needs one source-only part between %r and %r" % (SOURCE_ONLY_BEGIN,
                                                                           SOURCE_ONLY_END))
    begin, end = lines.index(SOURCE_ONLY_BEGIN), lines.index(SOURCE_ONLY_END)
    if end < begin:
        fail("README.md's source-only part ends before it begins")
    # The blank line after the part goes with it.
    if end + 1 < len(lines) and lines[end + 1] == "":
        end += 1
    return "\n".join(lines[:begin] + lines[end + 1:]).encode("utf-8")


def tracked(folder):
    """Files under folder as git tracks them: no build debris, no local edits' leftovers."""
    out = subprocess.run(["git", "-C", ROOT, "ls-files", "-z", "--", folder],
                         capture_output=True, check=True).stdout
    return [p for p in out.decode().split("\0") if p and os.path.isfile(os.path.join(ROOT, p))]


def stripped(path, arch, epoch, work):
    """A copy without debug information; Windows images with the time stamp of epoch."""
    out = os.path.join(work, arch + "-" + os.path.basename(path))
    env = dict(os.environ, SOURCE_DATE_EPOCH=str(epoch))
    subprocess.run([TOOL_PREFIX[arch] + "strip", "--strip-debug", "-o", out, path], env=env,
                   check=True)
    return out


def signed(path, epoch):
    cert = os.environ.get("VANTOR_SIGN_CERT")
    key = os.environ.get("VANTOR_SIGN_KEY")
    if not cert and not key:
        return path
    if not (cert and key):
        fail("signing needs both VANTOR_SIGN_CERT and VANTOR_SIGN_KEY")
    out = path + ".signed"
    command = ["osslsigncode", "sign", "-certs", cert, "-key", key, "-h", "sha256",
               "-n", "Vantor installer extensions", "-time", str(epoch), "-in", path, "-out", out]
    password = os.environ.get("VANTOR_SIGN_PASS")
    if password:
        command[2:2] = ["-readpass", "-"]  # from stdin, never on a command line
    result = subprocess.run(command, input=password, capture_output=True, text=True)
    if result.returncode != 0:
        fail("signing %s failed:\n%s%s" % (os.path.basename(path), result.stdout, result.stderr))
    return out


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--x86", required=True, help="the built i686 tree")
    parser.add_argument("--x64", required=True, help="the built x86_64 tree")
    parser.add_argument("--linux", required=True, help="the built host tree (the Linux checker)")
    parser.add_argument("--out", required=True, help="folder of the archive")
    args = parser.parse_args()

    version = read_version()
    epoch = source_date_epoch()
    top = "%s-%s" % (NAME, version)
    entries = {}  # name in the archive -> (bytes, executable)

    with tempfile.TemporaryDirectory() as work:
        def add_binary(name, path, arch):
            final = stripped(present(path), arch, epoch, work)
            if arch != "linux":
                final = signed(final, epoch)
            with open(final, "rb") as f:
                entries[name] = (f.read(), True)

        for arch, tree in (("x86", args.x86), ("x64", args.x64)):
            for name, path in windows_files(tree):
                add_binary("%s/%s" % (arch, name), path, arch)
            # Unsigned: it is the example's stand-in, not a deliverable.
            sample = stripped(present(os.path.join(tree, "fixtures", "rondo32.exe")), arch, epoch,
                              work)
            with open(sample, "rb") as f:
                entries["sample-application/%s/rondo32.exe" % arch] = (f.read(), True)
        add_binary("linux/vantor-wirecheck",
                   os.path.join(args.linux, "tools", "wirecheck", "vantor-wirecheck"), "linux")
    for path in tracked("package"):
        full = os.path.join(ROOT, path)
        with open(full, "rb") as f:
            entries[path] = (f.read(), os.access(full, os.X_OK))
    entries["README.md"] = (archive_readme(), False)

    sums = "".join("%s  %s\n" % (hashlib.sha256(data).hexdigest(), name)
                   for name, (data, _) in sorted(entries.items()))
    entries["SHA256SUMS"] = (sums.encode(), False)

    os.makedirs(args.out, exist_ok=True)
    archive = os.path.join(args.out, top + ".zip")
    stamp = time.gmtime(max(epoch, ZIP_EPOCH))[:6]
    partial = archive + ".partial"
    with zipfile.ZipFile(partial, "w") as z:
        for name in sorted(entries):
            data, executable = entries[name]
            info = zipfile.ZipInfo("%s/%s" % (top, name), date_time=stamp)
            info.create_system = 3  # Unix, so that the permissions below count
            info.external_attr = (0o100755 if executable else 0o100644) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(info, data, compresslevel=9)
    os.replace(partial, archive)
    with open(archive, "rb") as f:
        digest = hashlib.sha256(f.read()).hexdigest()
    print("%s  %s (%d files%s)" % (digest, os.path.relpath(archive), len(entries),
                                   ", signed" if os.environ.get("VANTOR_SIGN_CERT") else ""))


if __name__ == "__main__":
    main()
