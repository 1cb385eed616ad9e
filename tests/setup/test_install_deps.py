"""scripts/install-deps.sh as different users meet it, and as `make run` and
`make test` call it.

The script runs from a scratch copy of the clone's Makefile and scripts/
under /tmp with a PATH of its own: a dpkg-query that reports chosen packages
(or all) missing, an apt-get (and, where a case has it, a sudo) that only
logs how it was called and prints what apt-get would, and the few real tools
the script uses. Nothing is ever installed. The cases without root run as an
unprivileged user (as root: the user nobody, through setpriv).
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
grep -qx -- "ALL" "{scratch}/missing" && exit 1
printf 'install ok installed'
"""
LOGGING = """#!/bin/sh
echo "{name} $*" >> "{scratch}/log"
{tail}
"""
# What apt-get prints, a line for each of a few hundred steps; with a file
# "fail" in the scratch folder, the install ends with apt-get's error.
APT_GET = """#!/bin/sh
echo "apt-get $*" >> "{scratch}/log"
i=0
while [ $i -lt 300 ]; do i=$((i + 1)); echo "Setting up step $i ..."; done
case "$*" in *install*)
  if [ -f "{scratch}/fail" ]; then
    echo "E: Unable to locate package no-such-package" >&2
    exit 100
  fi ;;
esac
exit 0
"""
# Packages only the tests need, which `make run` never installs.
TEST_ONLY = ("npm", "node-", "libgtest", "libgmock", "googletest", "libbenchmark", "clang",
             "libclang", "imagemagick")


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
    def __init__(self, script, makefile):
        self.dir = tempfile.mkdtemp(prefix="vm-install-deps-")
        os.chmod(self.dir, 0o755)
        os.mkdir(os.path.join(self.dir, "scripts"), 0o755)
        self.script = os.path.join(self.dir, "scripts", "install-deps.sh")
        shutil.copy(script, self.script)
        os.chmod(self.script, 0o755)
        shutil.copy(makefile, os.path.join(self.dir, "Makefile"))
        # Where the log goes; the unprivileged user writes there too.
        self.logs = os.path.join(self.dir, "build-logs")
        os.mkdir(self.logs)
        os.chmod(self.logs, 0o777)
        self.log = os.path.join(self.logs, "install-deps.log")

    def arguments_of(self, target):
        """The arguments each install-deps.sh call of `make -n <target>` has."""
        proc = subprocess.run(["make", "-n", target], cwd=self.dir, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, text=True, timeout=60)
        calls = []
        for line in proc.stdout.splitlines():
            words = line.split()
            for i, w in enumerate(words):
                if w.endswith("scripts/install-deps.sh"):
                    calls.append(" ".join(words[i + 1:]))
        return calls

    def run(self, missing, tools, as_root, args=(), env=None, fail=False):
        """Runs the script; gives (status, output, calls logged)."""
        bin_dir = os.path.join(self.dir, "bin")
        shutil.rmtree(bin_dir, ignore_errors=True)
        os.mkdir(bin_dir)
        os.chmod(bin_dir, 0o755)
        for f in ("log", "missing"):
            write(os.path.join(self.dir, f), "", 0o666)
        write(os.path.join(self.dir, "missing"), "".join(p + "\n" for p in missing), 0o644)
        for f in os.listdir(self.logs):
            os.remove(os.path.join(self.logs, f))
        if fail:
            write(os.path.join(self.dir, "fail"), "", 0o644)
        elif os.path.exists(os.path.join(self.dir, "fail")):
            os.remove(os.path.join(self.dir, "fail"))
        for tool in ("grep", "id", "dirname", "mkdir", "tail", "wc", "mktemp"):
            os.symlink(shutil.which(tool), os.path.join(bin_dir, tool))
        if "dpkg-query" in tools:
            write(os.path.join(bin_dir, "dpkg-query"), DPKG_QUERY.format(scratch=self.dir), 0o755)
        if "apt-get" in tools:
            write(os.path.join(bin_dir, "apt-get"), APT_GET.format(scratch=self.dir), 0o755)
        if "npm" in tools:
            write(os.path.join(bin_dir, "npm"), "#!/bin/sh\nexit 0\n", 0o755)
        if "sudo" in tools:
            write(os.path.join(bin_dir, "sudo"),
                  LOGGING.format(name="sudo", scratch=self.dir, tail='exec "$@"'), 0o755)
        if "env" in tools or "sudo" in tools:
            os.symlink(shutil.which("env"), os.path.join(bin_dir, "env"))
        command = ["/bin/sh", self.script] + list(args)
        if not as_root and os.geteuid() == 0:
            command = [shutil.which("setpriv"), "--reuid=%d" % NOBODY, "--regid=%d" % NOBODY,
                       "--clear-groups"] + command
        full_env = {"PATH": bin_dir}
        full_env.update(env or {})
        proc = subprocess.run(command, cwd=self.dir, env=full_env,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                              timeout=60)
        calls = [line for line in read(os.path.join(self.dir, "log")).splitlines() if line]
        return proc.returncode, proc.stdout, calls

    def remove(self):
        shutil.rmtree(self.dir, ignore_errors=True)


def installed(calls):
    """The packages of the apt-get install call among the calls logged."""
    for call in calls:
        words = call.split()
        if "install" in words and words[0] in ("apt-get", "env"):
            return words[words.index("--no-install-recommends") + 1:]
    return None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--script", required=True)
    parser.add_argument("--makefile", required=True)
    args = parser.parse_args()
    if os.geteuid() == 0 and not shutil.which("setpriv"):
        print("skip: root without setpriv cannot become an unprivileged user")
        return SKIP

    failures = []

    def check(label, condition, detail=""):
        if not condition:
            detail = str(detail)
            if len(detail) > 600:  # the start and the end of a long output
                detail = detail[:300] + " [...] " + detail[-300:]
            failures.append("%s: %s" % (label, detail))

    scratch = Scratch(args.script, args.makefile)
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
        check(label, calls[:1] == ["sudo apt-get update"], calls)
        check(label, calls[2:3] == ["sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y "
                                    "--no-install-recommends xvfb"], calls)

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
            check("root", calls == ["apt-get update",
                                    "apt-get install -y --no-install-recommends cmake"], calls)

        # What `make run` and `make test` ask for on a machine that has none
        # of the packages (and no npm), as the user running this test: sudo
        # where that user is not root.
        everything = {"dpkg-query", "apt-get", "env", "sudo"}
        sets = {}
        for target in ("run", "test"):
            asked = scratch.arguments_of(target)
            check("make " + target, asked and all(a == asked[0] for a in asked), asked)
            for display in ({}, {"DISPLAY": ":5"}):
                status, out, calls = scratch.run(["ALL"], everything, as_root=True,
                                                 args=asked[0].split() if asked else [],
                                                 env=display)
                label = "make %s%s" % (target, ", a display" if display else "")
                packages = installed(calls)
                check(label, status == 0 and packages, "status %d: %s %s" % (status, out, calls))
                sets[label] = set(packages or [])
                # One line says what is installed and where apt-get's output
                # went, which is all in the log.
                check(label, out.count("\n") == 1 and out.endswith("(apt-get's output: %s)\n"
                                                                   % scratch.log), out)
                check(label, " ".join(packages or []) in out, out)
                log = read(scratch.log)
                check(label, log.count("Setting up step 300 ...") == 2, log[-200:])
        run, run_display = sets["make run"], sets["make run, a display"]
        test, test_display = sets["make test"], sets["make test, a display"]
        for label, packages in (("make run", run), ("make run, a display", run_display)):
            check(label, {"cmake", "g++", "libpcre2-dev", "qt6-base-dev"} <= packages, packages)
            check(label, not [p for p in packages if p.startswith(TEST_ONLY)], sorted(packages))
        check("make run: the demo's tools without a display",
              {"xvfb", "xdotool", "python3-xlib"} <= run, sorted(run))
        check("make run: no demo with a display",
              run_display == run - {"xvfb", "xdotool", "python3", "python3-xlib"},
              sorted(run_display))
        check("make test", run < test and test == test_display, (sorted(run), sorted(test)))
        check("make test", {"libgtest-dev", "libbenchmark-dev", "clang", "imagemagick", "npm",
                            "xvfb", "xdotool"} <= test, sorted(test))
        # A machine with an npm of its own gets no other.
        status, out, calls = scratch.run(["ALL"], everything | {"npm"}, as_root=True,
                                         args=["test"])
        check("make test with npm", set(installed(calls) or []) == test - {"npm"}, calls)

        # A failed install: the end of the log is shown, with apt-get's error.
        status, out, calls = scratch.run(["ALL"], everything, as_root=True, args=["run"],
                                         fail=True)
        label = "failed install"
        check(label, status != 0, "status %d" % status)
        check(label, "the end of %s:" % scratch.log in out, out)
        check(label, "E: Unable to locate package no-such-package" in out, out)
        check(label, "Setting up step 300 ..." in out and "Setting up step 1 ...\n" not in out,
              out)
        check(label, out.count("\n") < 40, out)
    finally:
        scratch.remove()

    for f in failures:
        print("FAIL " + f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
