#!/usr/bin/env python3
"""Archives of the zip class checked by the host's zip tools, and archives of
the host's tools read back by the zip class. Argument: the interop tool (.exe),
run with wine."""
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

TOOL = sys.argv[1]
failures = []
checks = [0]


def check(cond, what):
    checks[0] += 1
    if not cond:
        failures.append(what)
        print("FAIL:", what)


def win(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def tool(*args):
    r = subprocess.run(["wine", TOOL] + list(args), capture_output=True, text=True,
                       stdin=subprocess.DEVNULL, timeout=120)
    if r.returncode != 0:
        print("tool", args[0], "exit", r.returncode, r.stderr, r.stdout)
    return r.returncode


def make_tree(root):
    """A folder with text, binary, nested, empty and oddly named members."""
    rnd = random.Random(42)
    files = {
        "src/readme.txt": b"hello zip\r\n" * 300,
        "src/random.bin": bytes(rnd.getrandbits(8) for _ in range(150000)),
        "src/sub/deeper/nested file.txt": b"nested " * 1000,
        "src/sub/zeros.dat": bytes(70000),
        "src/Mixed Case.TXT": b"Mixed",
    }
    stamp = time.mktime((2021, 3, 14, 15, 9, 26, 0, 0, -1))
    for rel, data in files.items():
        p = os.path.join(root, rel)
        os.makedirs(os.path.dirname(p), exist_ok=True)
        with open(p, "wb") as f:
            f.write(data)
        os.utime(p, (stamp, stamp))
    os.makedirs(os.path.join(root, "src/emptydir"))
    open(os.path.join(root, "src/empty.txt"), "wb").close()
    return files


def tree_files(root):
    out = {}
    for dirpath, dirnames, filenames in os.walk(root):
        for d in dirnames:
            out[os.path.relpath(os.path.join(dirpath, d), root).replace(os.sep, "/") + "/"] = None
        for n in filenames:
            p = os.path.join(dirpath, n)
            with open(p, "rb") as f:
                out[os.path.relpath(p, root).replace(os.sep, "/")] = f.read()
    return out


def written_by_us(work, files):
    for level in ("-1", "0", "9"):
        archive = os.path.join(work, "ours%s.zip" % level)
        check(tool("pack", win(archive), win(work), level, "global comment", win(os.path.join(work, "src"))) == 0,
              "pack level " + level)
        t = subprocess.run(["unzip", "-tq", archive], capture_output=True, text=True)
        check(t.returncode == 0, "unzip -t level %s: %s" % (level, t.stdout + t.stderr))
        with zipfile.ZipFile(archive) as z:
            check(z.testzip() is None, "zipfile testzip level " + level)
            names = set(z.namelist())
            expected = set(files) | {"src/sub/", "src/sub/deeper/", "src/emptydir/"}
            check(names == expected, "names level %s: %s" % (level, sorted(names ^ expected)))
            check(z.comment == b"global comment", "global comment level " + level)
            for info in z.infolist():
                check(info.comment == b"entry comment", "entry comment of " + info.filename)
                want = 0 if level == "0" else 8
                check(info.compress_type == want, "method of %s level %s" % (info.filename, level))
                if info.filename in files:
                    check(z.read(info) == files[info.filename], "bytes of " + info.filename)
                    check(info.date_time == (2021, 3, 14, 15, 9, 26), "time of %s: %s" % (info.filename, info.date_time))
        # The host's unzip rebuilds the same tree.
        out = os.path.join(work, "unzipped" + level)
        subprocess.run(["unzip", "-q", archive, "-d", out], check=True)
        got = tree_files(out)
        check({k: v for k, v in got.items() if v is not None} == files, "unzip bytes level " + level)

    # Dropping an entry keeps the others and both kinds of comment.
    archive = os.path.join(work, "ours-1.zip")
    check(tool("remove", win(archive), "src/readme.txt") == 0, "remove")
    check(subprocess.run(["unzip", "-tq", archive], capture_output=True).returncode == 0, "unzip -t after remove")
    with zipfile.ZipFile(archive) as z:
        check("src/readme.txt" not in z.namelist(), "removed entry gone")
        check(len(z.namelist()) == len(files) + 3 - 1, "other entries kept")
        check(z.comment == b"global comment", "global comment after remove")
        check(all(i.comment == b"entry comment" for i in z.infolist()), "entry comments after remove")
        check(z.read("src/random.bin") == files["src/random.bin"], "bytes after remove")


def read_by_us(work, files):
    src = os.path.join(work, "src")
    archives = {}
    # The host's zip command, deflated and stored, with a comment.
    a = os.path.join(work, "zipcmd.zip")
    subprocess.run(["zip", "-qr", "-z", a, "src"], cwd=work, input=b"made by zip\n.\n", check=True)
    archives["zip -r"] = a
    a = os.path.join(work, "zipcmd0.zip")
    subprocess.run(["zip", "-qr0", a, "src"], cwd=work, check=True)
    archives["zip -r0"] = a
    # Written to a pipe: data descriptors after each entry.
    a = os.path.join(work, "zippipe.zip")
    with open(a, "wb") as f:
        subprocess.run(["zip", "-qr", "-fz-", "-", "src"], cwd=work, stdout=f, check=True)
    archives["zip to a pipe"] = a
    # Python's zipfile, both methods, with folders and comments.
    for method, tag in ((zipfile.ZIP_STORED, "stored"), (zipfile.ZIP_DEFLATED, "deflated")):
        a = os.path.join(work, "py-%s.zip" % tag)
        with zipfile.ZipFile(a, "w", compression=method) as z:
            z.comment = b"python archive"
            for dirpath, dirnames, filenames in os.walk(src):
                for d in sorted(dirnames):
                    z.write(os.path.join(dirpath, d), os.path.relpath(os.path.join(dirpath, d), work))
                for n in sorted(filenames):
                    info = zipfile.ZipInfo.from_file(os.path.join(dirpath, n), os.path.relpath(os.path.join(dirpath, n), work))
                    info.compress_type = method
                    info.comment = b"member comment"
                    with open(os.path.join(dirpath, n), "rb") as f:
                        z.writestr(info, f.read())
        archives["python " + tag] = a
    expected = tree_files(work + "/src")
    for what, archive in archives.items():
        target = os.path.join(work, "t-" + what.replace(" ", "_"))
        os.makedirs(target)
        check(tool("unpack", win(archive), win(target)) == 0, "unpack " + what)
        got = tree_files(os.path.join(target, "src"))
        check(got == expected, "%s read back: %s" % (what, sorted(set(got) ^ set(expected)) or "bytes differ"))
        st = os.stat(os.path.join(target, "src/readme.txt"))
        check(time.localtime(st.st_mtime)[:6] == (2021, 3, 14, 15, 9, 26), "%s time %s" % (what, time.localtime(st.st_mtime)[:6]))


def main():
    work = tempfile.mkdtemp(prefix="zipinterop")
    try:
        files = make_tree(work)
        written_by_us(work, files)
        read_by_us(work, files)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("%d checks, %d failure(s)" % (checks[0], len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
