#!/usr/bin/python3
"""The crash-state model on small programs whose possible states are known:
a replace by rename with and without the syncs it needs, and an append.
Guards the recorder and the model that the crash-state explorer relies on."""

import os
import shutil
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import crashstates as cs  # noqa: E402

# Each program runs in a scratch directory holding f = b"old\n".
REPLACE_SYNCED = r"""
import os
fd = os.open("f.tmp", os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
os.write(fd, b"new line\n"); os.fsync(fd); os.close(fd)
os.rename("f.tmp", "f")
d = os.open(".", os.O_RDONLY | os.O_DIRECTORY); os.fsync(d); os.close(d)
"""
REPLACE_UNSYNCED = REPLACE_SYNCED.replace("os.fsync(fd); ", "")
APPEND = r"""
import os
fd = os.open("f", os.O_WRONLY | os.O_APPEND)
os.write(fd, b"a1\n"); os.write(fd, b"a2\n"); os.fsync(fd); os.write(fd, b"a3\n"); os.close(fd)
"""


def states(program):
    scratch = tempfile.mkdtemp(prefix="crash-states-model-")
    with open(os.path.join(scratch, "f"), "wb") as f:
        f.write(b"old\n")
    r = cs.Recording(scratch, ["/usr/bin/python3", "-S", "-c", program]).record()
    assert r.status == 0, r.stderr
    prefix = {fs.files[fs.tree()["f"][1]] if "f" in fs.tree() else None for _, fs in r.prefix_states()}
    weak = set()
    for k in r.crash_points():
        for _, fs in r.weak_states(k, 10000):
            t = fs.tree()
            weak.add(fs.files[t["f"][1]] if "f" in t else None)
    shutil.rmtree(scratch)
    shutil.rmtree(r.vault)
    return r, prefix, weak


def main():
    failures = []

    def expect(name, got, want):
        if got != want:
            failures.append("%s: got %r, want %r" % (name, sorted(got, key=repr), sorted(want, key=repr)))

    r, prefix, weak = states(REPLACE_SYNCED)
    expect("replace, synced: operations", [op.kind for op in r.ops],
           ["create", "write", "fsync", "rename", "fsync"])
    expect("replace, synced: f after a kill", prefix, {b"old\n", b"new line\n"})
    expect("replace, synced: f after a power loss", weak, {b"old\n", b"new line\n"})

    r, prefix, weak = states(REPLACE_UNSYNCED)
    expect("replace, unsynced: f after a kill", prefix, {b"old\n", b"new line\n"})
    # The rename may reach the disk before the data: f empty, cut, or NULs.
    expect("replace, unsynced: f after a power loss", weak,
           {b"old\n", b"new line\n", b"", b"n", b"new ", b"new line", b"\0" * 9})

    r, prefix, weak = states(APPEND)
    expect("append: f after a kill", prefix, {b"old\n", b"old\na1\n", b"old\na1\na2\n", b"old\na1\na2\na3\n"})
    expect("append: f after a power loss", weak,
           {b"old\n", b"old\na1\n", b"old\na1\na2\n", b"old\na1\na2\na3\n",
            # before the fsync: a1 or a2 cut after 1 or 2 bytes, or kept in size only
            b"old\na", b"old\na1", b"old\na1\na", b"old\na1\na2", b"old\n\0\0\0", b"old\n" + b"\0" * 6,
            # after it: a1 and a2 are safe, a3 is not
            b"old\na1\na2\na", b"old\na1\na2\na3", b"old\na1\na2\n\0\0\0"})
    for f in failures:
        print(f)
    print("crash-states model: %s" % ("FAILED" if failures else "passed"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
