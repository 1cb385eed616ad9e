"""scripts/install-deps.sh as different users meet it.

The script runs from a scratch folder under /tmp with a PATH of its own: a
dpkg-query that reports chosen packages missing, an apt-get (and, where a
case has it, a sudo) that only logs how it was called, and the few real
tools the script uses. Nothing is ever installed. The cases without root run
as an unprivileged user (as root: the user nobody, through setpriv).
Exit 77 when no unprivileged user can be had.
"""
import argparse
import os
import shutil
import stat
import subprocess
import sys
import tempfile

SKIP = 77
NOBODY = 65534

DPKG_QUERY = """#!/bin/sh
for a; do pkg=$a; done
grep -qx -- "$pkg" "{scratch}/missing" && exit 1
printf 'install ok installed'
"""
LOGGING = """#!/bin/sh
echo "{name} $*" >> "{scratch}/log"
{tail}
"""


def write(path, text, mode=0o644):
    with open(path, "w") as f:
        f.write(text)
    os.chmod(path, mode)


def read(path):
    try:
        with open(path) as f:
            return f.read()
    except FileNotFoundError:
        return ""


class Scratch:
    def __init__(self, script):
        self.dir = tempfile.mkdtemp(prefix="vm-install-deps-")
        os.chmod(self.dir, 0o755)
        self.script = os.path.join(self.dir, "install-deps.sh")
        shutil.copy(script, self.script)
        os.chmod(self.script, 0o755)

    def run(self, missing, tools, as_root):
        """Runs the script; gives (status, output, calls logged)."""
        bin_dir = os.path.join(self.dir, "bin")
        shutil.rmtree(bin_dir, ignore_errors=True)
        os.mkdir(bin_dir)
        os.chmod(bin_dir, 0o755)
        for f in ("log", "missing"):
            write(os.path.join(self.dir, f), "", 0o666)
        write(os.path.join(self.dir, "missing"), "".join(p + "\n" for p in missing), 0o644)
        for tool in ("grep", "id"):
            os.symlink(shutil.which(tool), os.path.join(bin_dir, tool))
        if "dpkg-query" in tools:
            write(os.path.join(bin_dir, "dpkg-query"), DPKG_QUERY.format(scratch=self.dir), 0o755)
        if "apt-get" in tools:
            write(os.path.join(bin_dir, "apt-get"),
                  LOGGING.format(name="apt-get", scratch=self.dir, tail="exit 0"), 0o755)
        if "sudo" in tools:
            write(os.path.join(bin_dir, "sudo"),
                  LOGGING.format(name="sudo", scratch=self.dir, tail='exec "$@"'), 0o755)
        if "env" in tools or "sudo" in tools:
            os.symlink(shutil.which("env"), os.path.join(bin_dir, "env"))
        command = ["/bin/sh", self.script]
        if not as_root and os.geteuid() == 0:
            command = [shutil.which("setpriv"), "--reuid=%d" % NOBODY, "--regid=%d" % NOBODY,
                       "--clear-groups"] + command
        proc = subprocess.run(command, cwd=self.dir, env={"PATH": bin_dir},
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                              timeout=60)
        calls = [line for line in read(os.path.join(self.dir, "log")).splitlines() if line]
        return proc.returncode, proc.stdout, calls

    def remove(self):
        shutil.rmtree(self.dir, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--script", required=True)
    args = parser.parse_args()
    if os.geteuid() == 0 and not shutil.which("setpriv"):
        print("skip: root without setpriv cannot become an unprivileged user")
        return SKIP

    failures = []

    def check(label, condition, detail=""):
        if not condition:
            failures.append("%s: %s" % (label, detail))

    scratch = Scratch(args.script)
    try:
        # Not root, no sudo, two packages missing: one message naming them
        # and the one command that installs them; nothing runs.
        status, out, calls = scratch.run(["cmake", "xvfb"], {"dpkg-query", "apt-get"},
                                         as_root=False)
        label = "no root, no sudo"
        check(label, status != 0, "status %d" % status)
        check(label, "not found" not in out, out)
        check(label, "missing packages: cmake xvfb\n" in out, out)
        check(label, "su -c 'apt-get update && apt-get install -y --no-install-recommends "
                     "cmake xvfb'" in out, out)
        check(label, calls == [], calls)

        # Not root, with sudo: sudo installs exactly what is missing.
        status, out, calls = scratch.run(["xvfb"], {"dpkg-query", "apt-get", "sudo"},
                                         as_root=False)
        label = "no root, sudo"
        check(label, status == 0, "status %d: %s" % (status, out))
        check(label, len(calls) == 4, calls)
        check(label, calls[:1] == ["sudo apt-get update -qq"], calls)
        check(label, calls[2:3] == ["sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y "
                                    "-qq --no-install-recommends xvfb"], calls)

        # Nothing missing: silent success for anyone.
        status, out, calls = scratch.run([], {"dpkg-query", "apt-get"}, as_root=False)
        check("nothing missing", (status, out, calls) == (0, "", []), (status, out, calls))

        # No Debian tools: said so, and a failure.
        status, out, calls = scratch.run(["cmake"], {"apt-get"}, as_root=False)
        label = "not Debian"
        check(label, status != 0, "status %d" % status)
        check(label, "Debian 12" in out, out)
        check(label, calls == [], calls)

        # Root installs what is missing itself.
        if os.geteuid() == 0:
            status, out, calls = scratch.run(["cmake"], {"dpkg-query", "apt-get", "env"},
                                             as_root=True)
            check("root", status == 0, "status %d: %s" % (status, out))
            check("root", calls == ["apt-get update -qq",
                                    "apt-get install -y -qq --no-install-recommends cmake"], calls)
    finally:
        scratch.remove()

    for f in failures:
        print("FAIL " + f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
