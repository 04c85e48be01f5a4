"""What a crash can leave of a program's files: record, model, enumerate.

Record: the program runs under strace inside a scratch directory; its
system calls on files (opens, writes, truncations, syncs, renames, links,
unlinks, mkdir/rmdir) are parsed into a list of operations on the inodes
of an in-memory model of that directory, whose initial state is read from
the directory before the run. Nothing here knows which program ran: it
replays whatever calls were made, and checks at the end that the model
holds exactly what the program left on disk.

Crash states:
  prefix  the first k operations, for every k: what a killed process leaves
          (the kernel keeps every completed call).
  weak    what a power loss may leave, just before each sync barrier and at
          the end: the data written to a file since its last fsync may be
          lost, kept up to any one write, cut inside that write, or kept in
          size only (the bytes beyond the synced size read as NULs); each
          directory entry operation (create, link, unlink, rename, mkdir)
          since the last fsync of its directory is kept or lost on its own.

Materialize: a state is written into the scratch directory again, at the
same path, and every file that still exists after the run keeps its inode
(moved, never linked, between the scratch directory and a vault beside it:
a program may refuse a file of two names), so that whatever the program
recorded about a file's identity still matches.

Standard library only (Debian's python3).
"""

import hashlib
import os
import random
import re
import shutil
import subprocess

TRACED = ("open,openat,creat,write,pwrite64,writev,pwritev,pwritev2,ftruncate,truncate,"
          "fsync,fdatasync,sync,syncfs,rename,renameat,renameat2,unlink,unlinkat,link,linkat,"
          "mkdir,mkdirat,rmdir,close,lseek,dup,dup2,dup3,fcntl")


class TraceError(Exception):
    pass


# ---------------------------------------------------------------- the trace

_HEX = re.compile(rb"\\x([0-9a-f]{2})")


def _unquote(tok):
    """The bytes of a strace string argument printed with -xx."""
    tok = tok.strip()
    if not tok.startswith('"'):
        raise TraceError("not a string: %r" % tok[:60])
    end = tok.rfind('"')
    if tok[end + 1:].startswith("..."):
        raise TraceError("a string was cut by strace (raise -s)")
    body = tok[1:end]
    if "\\" in body and not re.fullmatch(r"(\\x[0-9a-f]{2})*", body):
        raise TraceError("unexpected escape in %r" % body[:60])
    return bytes(int(body[i + 2:i + 4], 16) for i in range(0, len(body), 4))


def _split_args(s):
    out, depth, cur, quoted = [], 0, [], False
    for ch in s:
        if quoted:
            cur.append(ch)
            if ch == '"':
                quoted = False
            continue
        if ch == '"':
            quoted = True
        elif ch in "[{(":
            depth += 1
        elif ch in "]})":
            depth -= 1
        elif ch == "," and depth == 0:
            out.append("".join(cur).strip())
            cur = []
            continue
        cur.append(ch)
    if cur:
        out.append("".join(cur).strip())
    return out


_FD = re.compile(r"^(-?\d+|AT_FDCWD)(?:<(.*)>)?$")


def _fd(tok):
    m = _FD.match(tok.strip())
    if not m:
        raise TraceError("not a descriptor: %r" % tok[:60])
    path = None
    if m.group(2) is not None:
        ann = m.group(2)
        path = os.fsdecode(_unquote('"' + ann + '"')) if ann.startswith("\\x") else ann
    fd = m.group(1)
    return (fd if fd == "AT_FDCWD" else int(fd)), path


_CALL = re.compile(r"^(\w+)\((.*)\)\s+=\s+(-?\d+|\?|0x[0-9a-f]+)(?:<([^>]*)>)?(.*)$")


def parse_strace(text):
    """(pid, name, args, ret, ret_path) for every completed call, in the
    order they completed; an interrupted call is joined with its resumption."""
    pending, calls = {}, []
    for line in text.splitlines():
        m = re.match(r"^(\d+)\s+(.*)$", line)
        if not m:
            continue
        pid, rest = int(m.group(1)), m.group(2)
        if rest.startswith("+++") or rest.startswith("---"):
            continue
        if rest.endswith("<unfinished ...>"):
            pending[pid] = rest[: -len("<unfinished ...>")].rstrip()
            continue
        r = re.match(r"^<\.\.\. (\w+) resumed>(.*)$", rest)
        if r:
            rest = pending.pop(pid, r.group(1) + "(") + r.group(2)
        c = _CALL.match(rest)
        if not c:
            continue  # e.g. a call killed with its process: it has no result
        ret = c.group(3)
        ret = int(ret, 0) if ret != "?" else None
        retpath = None
        if c.group(4) is not None:
            ann = c.group(4)
            retpath = os.fsdecode(_unquote('"' + ann + '"')) if ann.startswith("\\x") else ann
        calls.append((pid, c.group(1), _split_args(c.group(2)), ret, retpath))
    return calls


# ---------------------------------------------------------------- the model

class Op:
    """One operation on the model. kind: create, mkdir, link, unlink, rmdir,
    rename (entry operations), write, trunc (data), fsync, sync (barriers)."""
    ENTRY = ("create", "mkdir", "link", "unlink", "rmdir", "rename")
    DATA = ("write", "trunc")

    def __init__(self, kind, **kw):
        self.kind = kind
        self.ino = kw.get("ino")
        self.dir = kw.get("dir")
        self.name = kw.get("name")
        self.dir2 = kw.get("dir2")
        self.name2 = kw.get("name2")
        self.off = kw.get("off", 0)
        self.data = kw.get("data", b"")
        self.length = kw.get("length", 0)
        self.label = kw.get("label", "")

    def dirs(self):
        return [d for d in (self.dir, self.dir2) if d is not None]

    def __str__(self):
        k = self.kind
        if k == "write":
            return "write %d bytes at %d to %s" % (len(self.data), self.off, self.label)
        if k == "trunc":
            return "truncate %s to %d" % (self.label, self.length)
        if k == "rename":
            return "rename %s -> %s" % (self.name, self.name2)
        if k in ("fsync", "sync"):
            return "%s %s" % (k, self.label)
        return "%s %s" % (k, self.name)


class FS:
    """Directories (inode -> {name: inode}) and file data (inode -> bytes)."""

    def __init__(self, dirs=None, files=None):
        self.dirs = dirs if dirs is not None else {0: {}}
        self.files = files if files is not None else {}

    def copy(self):
        return FS({d: dict(e) for d, e in self.dirs.items()}, dict(self.files))

    def apply(self, op, cut=None):
        k = op.kind
        if k in ("create", "mkdir", "link"):
            self.dirs[op.dir][op.name] = op.ino
            if k == "mkdir":
                self.dirs.setdefault(op.ino, {})
            else:
                self.files.setdefault(op.ino, b"")
        elif k in ("unlink", "rmdir"):
            self.dirs[op.dir].pop(op.name, None)
        elif k == "rename":
            self.dirs[op.dir].pop(op.name, None)
            self.dirs[op.dir2][op.name2] = op.ino
            if op.ino not in self.dirs:
                self.files.setdefault(op.ino, b"")
        elif k == "write":
            data = op.data if cut is None else op.data[:cut]
            d = self.files.get(op.ino, b"")
            if op.off > len(d):
                d = d + b"\0" * (op.off - len(d))
            self.files[op.ino] = d[:op.off] + data + d[op.off + len(data):]
        elif k == "trunc":
            d = self.files.get(op.ino, b"")
            self.files[op.ino] = d[:op.length] + b"\0" * max(0, op.length - len(d))

    def tree(self):
        """{relative path: ('d',) or ('f', inode)} of what is reachable."""
        out, stack = {}, [(0, "")]
        while stack:
            d, base = stack.pop()
            for name, ino in self.dirs.get(d, {}).items():
                p = base + name
                if ino in self.dirs:
                    out[p] = ("d",)
                    stack.append((ino, p + "/"))
                else:
                    out[p] = ("f", ino)
        return out

    def digest(self):
        h = hashlib.sha1()
        tree = self.tree()
        canon = {}
        for p in sorted(tree):
            t = tree[p]
            if t[0] == "d":
                h.update(b"d %s\n" % p.encode())
            else:
                c = canon.setdefault(t[1], len(canon))
                h.update(b"f %s %d %s\n" % (p.encode(), c, hashlib.sha1(self.files[t[1]]).hexdigest().encode()))
        return h.hexdigest()


def _flags(tok):
    return set(tok.split("|"))


class Recording:
    """A program run in `scratch`, recorded and replayed on the model."""

    def __init__(self, scratch, argv, env=None, vault=None, timeout=120):
        self.scratch = os.path.realpath(scratch)
        self.argv = argv
        self.env = env
        self.vault = vault or self.scratch + ".vault"
        self.timeout = timeout
        self.ops = []
        self.status = None
        self.stdout = b""
        self.stderr = b""

    # The directory as it stands, read into the model.
    def _snapshot(self):
        fs, real = FS(), {}
        self._next = 1
        stack = [(0, self.scratch)]
        while stack:
            d, path = stack.pop()
            for name in sorted(os.listdir(path)):
                p = os.path.join(path, name)
                st = os.lstat(p)
                if os.path.isdir(p) and not os.path.islink(p):
                    fs.dirs[d][name] = self._next
                    fs.dirs[self._next] = {}
                    stack.append((self._next, p))
                    self._next += 1
                elif os.path.isfile(p) and not os.path.islink(p):
                    key = (st.st_dev, st.st_ino)
                    if key not in real:
                        real[key] = self._next
                        with open(p, "rb") as f:
                            fs.files[self._next] = f.read()
                        self._next += 1
                    fs.dirs[d][name] = real[key]
                else:
                    raise TraceError("%s: only files and directories are modelled" % p)
        return fs, real

    def record(self):
        self.initial, real = self._snapshot()
        if os.path.exists(self.vault):
            shutil.rmtree(self.vault)
        os.mkdir(self.vault)
        self._held = {}  # the vault's files: real (device, inode) -> their name in the vault
        trace = self.vault + ".trace"
        cmd = ["strace", "-f", "-y", "-xx", "-s", "1048576", "-qq", "-o", trace, "-e", "trace=" + TRACED,
               "--"] + self.argv
        p = subprocess.run(cmd, cwd=self.scratch, env=self.env, stdin=subprocess.DEVNULL,
                           capture_output=True, timeout=self.timeout)
        self.status, self.stdout, self.stderr = p.returncode, p.stdout, p.stderr
        with open(trace, "r", encoding="latin-1") as f:
            text = f.read()
        os.unlink(trace)
        self._replay(parse_strace(text))
        self._check_end()
        for p, t in self.final.tree().items():
            v = os.path.join(self.vault, str(t[1])) if t[0] == "f" else None
            if v and not os.path.exists(v):
                st = os.stat(os.path.join(self.scratch, p))
                os.rename(os.path.join(self.scratch, p), v)
                self._held[(st.st_dev, st.st_ino)] = v
        return self

    def give_back(self, other):
        """Moves the files this recording holds that are `other`'s (same
        inode) back into `other`'s vault: a recording made on a state of
        `other`'s holds `other`'s files once it is done."""
        for key, v in self._held.items():
            mine = other._held.get(key)
            if mine and os.path.exists(v) and not os.path.exists(mine):
                os.rename(v, mine)
        other.check_in(self.scratch)

    def check_in(self, folder):
        """Moves the files of `folder` that are this recording's (by inode)
        back into its vault."""
        for base, _dirs, files in os.walk(folder):
            for n in files:
                p = os.path.join(base, n)
                st = os.lstat(p)
                v = self._held.get((st.st_dev, st.st_ino))
                if v and not os.path.exists(v):
                    os.rename(p, v)

    # Path handling on the model.
    def _rel(self, path):
        path = os.path.normpath(path)
        if path == self.scratch:
            return ""
        if path.startswith(self.scratch + "/"):
            return path[len(self.scratch) + 1:]
        return None

    def _lookup(self, rel):
        """(parent dir inode, name, inode or None); None if the parent is missing."""
        if rel == "":
            return None, "", 0
        parts = rel.split("/")
        d = 0
        for part in parts[:-1]:
            d = self.fs.dirs.get(d, {}).get(part)
            if d is None or d not in self.fs.dirs:
                return None
        return d, parts[-1], self.fs.dirs[d].get(parts[-1])

    def _path(self, dirfd_tok, path_tok):
        name = os.fsdecode(_unquote(path_tok))
        if name.startswith("/"):
            return name
        if dirfd_tok is None:
            base = self.cwd
        else:
            fd, ann = _fd(dirfd_tok)
            base = ann if ann is not None else (self.cwd if fd == "AT_FDCWD" else self.fds.get(fd, (None, None))[2])
        return os.path.join(base or self.cwd, name)

    def _emit(self, op):
        self.fs.apply(op)
        self.ops.append(op)

    def _new_ino(self):
        self._next += 1
        return self._next - 1

    def _replay(self, calls):
        self.fs = self.initial.copy()
        self.cwd = self.scratch
        self.fds = {}  # fd -> [inode or None, append, path, {'off': n}] (one table: threads share it)
        for pid, name, args, ret, retpath in calls:
            for a in args:
                if a.startswith("AT_FDCWD<"):
                    self.cwd = _fd(a)[1]
            if ret is None or ret < 0:
                continue
            getattr(self, "_c_" + name, self._c_other)(args, ret, retpath)

    def _c_other(self, args, ret, retpath):
        pass

    def _open(self, path, flags, ret):
        rel = self._rel(path)
        if rel is None:
            self.fds[ret] = [None, False, path, {"off": 0}]
            return
        found = self._lookup(rel)
        if found is None:
            raise TraceError("open of %s under a directory the model lacks" % rel)
        d, name, ino = found
        if ino is None:
            if "O_CREAT" not in flags:
                raise TraceError("open of %s, which the model lacks" % rel)
            ino = self._new_ino()
            self._emit(Op("create", dir=d, name=name, ino=ino))
        if ino not in self.fs.dirs and "O_TRUNC" in flags and ("O_WRONLY" in flags or "O_RDWR" in flags) \
                and self.fs.files.get(ino):
            self._emit(Op("trunc", ino=ino, length=0, label=rel))
        self.fds[ret] = [ino, "O_APPEND" in flags, rel, {"off": 0}]

    def _c_openat(self, args, ret, retpath):
        path = retpath or self._path(args[0], args[1])
        self._open(path, _flags(args[2]), ret)

    def _c_open(self, args, ret, retpath):
        path = retpath or self._path(None, args[0])
        self._open(path, _flags(args[1]), ret)

    def _c_creat(self, args, ret, retpath):
        path = retpath or self._path(None, args[0])
        self._open(path, {"O_CREAT", "O_WRONLY", "O_TRUNC"}, ret)

    def _file(self, tok):
        fd, _ = _fd(tok)
        e = self.fds.get(fd)
        if e is None or e[0] is None:
            return None
        return e

    def _write(self, e, data, off=None):
        ino, append, rel, pos = e
        if ino is None or not data:
            return
        if off is None:
            where = len(self.fs.files.get(ino, b"")) if append else pos["off"]
            pos["off"] = where + len(data)
        else:
            where = len(self.fs.files.get(ino, b"")) if append else off
        self._emit(Op("write", ino=ino, off=where, data=data, label=rel))

    def _c_write(self, args, ret, retpath):
        e = self._file(args[0])
        if e:
            self._write(e, _unquote(args[1])[:ret])

    def _c_pwrite64(self, args, ret, retpath):
        e = self._file(args[0])
        if e:
            self._write(e, _unquote(args[1])[:ret], int(args[3]))

    def _iov(self, tok):
        return b"".join(_unquote(m) for m in re.findall(r'iov_base=("[^"]*"(?:\.\.\.)?)', tok))

    def _c_writev(self, args, ret, retpath):
        e = self._file(args[0])
        if e:
            self._write(e, self._iov(args[1])[:ret])

    def _c_pwritev(self, args, ret, retpath):
        e = self._file(args[0])
        if e:
            self._write(e, self._iov(args[1])[:ret], int(args[3]))

    _c_pwritev2 = _c_pwritev

    def _c_lseek(self, args, ret, retpath):
        e = self._file(args[0])
        if e:
            e[3]["off"] = ret

    def _c_ftruncate(self, args, ret, retpath):
        e = self._file(args[0])
        if e:
            self._emit(Op("trunc", ino=e[0], length=int(args[1]), label=e[2]))

    def _c_truncate(self, args, ret, retpath):
        rel = self._rel(self._path(None, args[0]))
        if rel is not None:
            found = self._lookup(rel)
            if found and found[2] is not None:
                self._emit(Op("trunc", ino=found[2], length=int(args[1]), label=rel))

    def _c_fsync(self, args, ret, retpath):
        e = self._file(args[0])
        if e:
            self._emit(Op("fsync", ino=e[0], label=e[2] or "."))

    _c_fdatasync = _c_fsync

    def _c_sync(self, args, ret, retpath):
        self._emit(Op("sync", label="(all)"))

    _c_syncfs = _c_sync

    def _c_close(self, args, ret, retpath):
        self.fds.pop(_fd(args[0])[0], None)

    def _dup(self, args, ret):
        e = self.fds.get(_fd(args[0])[0])
        if e is not None:
            self.fds[ret] = [e[0], e[1], e[2], e[3]]

    def _c_dup(self, args, ret, retpath):
        self._dup(args, ret)

    _c_dup2 = _c_dup
    _c_dup3 = _c_dup

    def _c_fcntl(self, args, ret, retpath):
        if args[1].startswith("F_DUPFD"):
            self._dup(args, ret)

    def _entry(self, path):
        rel = self._rel(path)
        if rel is None:
            return None
        found = self._lookup(rel)
        if found is None:
            raise TraceError("%s: its directory is not in the model" % rel)
        return found + (rel,)

    def _unlink(self, path, kind):
        f = self._entry(path)
        if f and f[2] is not None:
            self._emit(Op(kind, dir=f[0], name=f[1], ino=f[2]))

    def _c_unlink(self, args, ret, retpath):
        self._unlink(self._path(None, args[0]), "unlink")

    def _c_unlinkat(self, args, ret, retpath):
        self._unlink(self._path(args[0], args[1]), "rmdir" if "AT_REMOVEDIR" in args[2] else "unlink")

    def _c_rmdir(self, args, ret, retpath):
        self._unlink(self._path(None, args[0]), "rmdir")

    def _rename(self, src, dst):
        s, t = self._entry(src), self._entry(dst)
        if s is None and t is None:
            return
        if s is None or t is None:
            raise TraceError("rename across the scratch directory's edge: %s -> %s" % (src, dst))
        self._emit(Op("rename", dir=s[0], name=s[1], dir2=t[0], name2=t[1], ino=s[2]))

    def _c_rename(self, args, ret, retpath):
        self._rename(self._path(None, args[0]), self._path(None, args[1]))

    def _c_renameat(self, args, ret, retpath):
        self._rename(self._path(args[0], args[1]), self._path(args[2], args[3]))

    _c_renameat2 = _c_renameat

    def _link(self, src, dst):
        s, t = self._entry(src), self._entry(dst)
        if s is None and t is None:
            return
        if s is None or t is None:
            raise TraceError("link across the scratch directory's edge")
        self._emit(Op("link", dir=t[0], name=t[1], ino=s[2]))

    def _c_link(self, args, ret, retpath):
        self._link(self._path(None, args[0]), self._path(None, args[1]))

    def _c_linkat(self, args, ret, retpath):
        self._link(self._path(args[0], args[1]), self._path(args[2], args[3]))

    def _mkdir(self, path):
        f = self._entry(path)
        if f:
            self._emit(Op("mkdir", dir=f[0], name=f[1], ino=self._new_ino()))

    def _c_mkdir(self, args, ret, retpath):
        self._mkdir(self._path(None, args[0]))

    def _c_mkdirat(self, args, ret, retpath):
        self._mkdir(self._path(args[0], args[1]))

    def _check_end(self):
        """The model after the whole trace must be the directory as left."""
        self.final = self.fs
        mine = {p: (t[0], self.final.files[t[1]] if t[0] == "f" else None)
                for p, t in self.final.tree().items()}
        real = {}
        for base, dirs, files in os.walk(self.scratch):
            rb = os.path.relpath(base, self.scratch)
            for n in dirs:
                real[os.path.normpath(os.path.join(rb, n))] = ("d", None)
            for n in files:
                with open(os.path.join(base, n), "rb") as f:
                    real[os.path.normpath(os.path.join(rb, n))] = ("f", f.read())
        if mine != real:
            diff = sorted(set(mine) ^ set(real)) or [p for p in mine if mine[p] != real[p]]
            raise TraceError("the replayed trace does not give the directory the program left: %s" % diff[:5])
        for p, t in self.final.tree().items():
            v = os.path.join(self.vault, str(t[1])) if t[0] == "f" else None
            if v and os.path.exists(v) and not os.path.samefile(v, os.path.join(self.scratch, p)):
                raise TraceError("%s is not the file the model says it is" % p)

    # -------------------------------------------------------- crash states

    def prefix_states(self):
        """(k, FS) for every prefix of the operations."""
        fs = self.initial.copy()
        yield 0, fs.copy()
        for k, op in enumerate(self.ops, 1):
            fs.apply(op)
            yield k, fs.copy()

    def barriers(self):
        return [i for i, op in enumerate(self.ops) if op.kind in ("fsync", "sync")]

    def crash_points(self):
        pts = sorted(set(self.barriers()) | {len(self.ops)})
        return pts

    def weak_states(self, k, limit, seed=0):
        """(description, FS) of power-loss states just before operation k:
        all of them if there are at most `limit`, else a sample of `limit`
        (the extremes, each choice alone, then random ones)."""
        ops = self.ops[:k]
        synced, everything = {}, -1
        for i, op in enumerate(ops):
            if op.kind == "fsync":
                synced[op.ino] = i
            elif op.kind == "sync":
                everything = i
        data, entries = {}, []
        for i, op in enumerate(ops):
            if op.kind in Op.DATA and i > max(synced.get(op.ino, -1), everything):
                data.setdefault(op.ino, []).append(i)
            elif op.kind in Op.ENTRY and i > min(max(synced.get(d, -1), everything) for d in op.dirs()):
                entries.append(i)
        # Dimensions: per file, the choices from "nothing" to "everything".
        dims = []
        for ino, idx in data.items():
            choices = [(0, None, None)]
            for m, i in enumerate(idx, 1):
                op = ops[i]
                if op.kind == "write" and len(op.data) > 1:
                    for c in sorted({1, len(op.data) // 2, len(op.data) - 1}):
                        choices.append((m, "cut", c))
                if op.kind == "write":
                    choices.append((m, "size", None))
                choices.append((m, None, None))
            dims.append(("data", ino, idx, choices))
        for i in entries:
            dims.append(("entry", i, None, [False, True]))
        sizes = [len(d[3]) for d in dims]
        total = 1
        for s in sizes:
            total *= s
        picks = []
        if total <= limit:
            picks = list(_product(sizes))
        else:
            lo, hi = [0] * len(dims), [s - 1 for s in sizes]
            picks = [tuple(lo), tuple(hi)]
            for j, s in enumerate(sizes):
                for v in range(s):
                    for base in (hi, lo):
                        c = list(base)
                        c[j] = v
                        picks.append(tuple(c))
            rng = random.Random(seed * 7919 + k)
            while len(set(picks)) < limit and len(picks) < 50 * limit:
                picks.append(tuple(rng.randrange(s) for s in sizes))
            seen, uniq = set(), []
            for p in picks:
                if p not in seen:
                    seen.add(p)
                    uniq.append(p)
            picks = uniq[:limit]
        for pick in picks:
            yield self._describe(ops, dims, pick), self._weak_fs(ops, data, set(entries), dims, pick)

    def _describe(self, ops, dims, pick):
        lost = []
        for (kind, key, idx, choices), v in zip(dims, pick):
            if v == len(choices) - 1:
                continue
            if kind == "entry":
                lost.append("%s not persisted" % ops[key])
            else:
                m, mode, cut = choices[v]
                name = ops[idx[0]].label
                if m == 0:
                    lost.append("%s lost" % " and ".join(str(ops[i]) for i in idx) if len(idx) <= 2 else
                                "%s: all %d unsynced changes lost" % (name, len(idx)))
                else:
                    w = ops[idx[m - 1]]
                    what = {"cut": "cut after %s of %d bytes" % (cut, len(w.data)),
                            "size": "size only (NULs)", None: "kept"}[mode]
                    lost.append("%s: %d of %d unsynced changes, the last (%s) %s" % (name, m, len(idx), w, what))
        return "; ".join(lost) or "everything persisted"

    def _weak_fs(self, ops, data, entries, dims, pick):
        keep_entry, keep_data, size_only = set(), {}, {}
        for (kind, key, idx, choices), v in zip(dims, pick):
            if kind == "entry":
                if choices[v]:
                    keep_entry.add(key)
            else:
                m, mode, cut = choices[v]
                for j, i in enumerate(idx[:m], 1):
                    keep_data[i] = cut if (j == m and mode == "cut") else "all"
                if mode == "size":
                    size_only[key] = None
        pending = {i for idx in data.values() for i in idx}
        fs = self.initial.copy()
        for i, op in enumerate(ops):
            if op.kind in Op.DATA:
                if i in pending:
                    if i not in keep_data:
                        continue
                    if op.ino in size_only and size_only[op.ino] is None:
                        size_only[op.ino] = len(fs.files.get(op.ino, b""))
                    fs.apply(op, None if keep_data[i] == "all" else keep_data[i])
                else:
                    fs.apply(op)
            elif op.kind in Op.ENTRY:
                if i in keep_entry or i not in entries:
                    fs.apply(op)
        for ino, n in size_only.items():
            d = fs.files.get(ino, b"")
            if n is not None and len(d) > n:
                fs.files[ino] = d[:n] + b"\0" * (len(d) - n)
        return fs

    # -------------------------------------------------------- materialize

    def materialize(self, fs):
        """Writes `fs` into the scratch directory (same path; inodes kept)."""
        self.check_in(self.scratch)
        for name in os.listdir(self.scratch):
            p = os.path.join(self.scratch, name)
            if os.path.isdir(p) and not os.path.islink(p):
                shutil.rmtree(p)
            else:
                os.unlink(p)
        tree = fs.tree()
        made = {}
        for p in sorted(tree, key=lambda q: q.count("/")):
            t = tree[p]
            full = os.path.join(self.scratch, p)
            if t[0] == "d":
                os.mkdir(full)
                continue
            ino = t[1]
            if ino in made:
                os.link(made[ino], full)
                continue
            v = os.path.join(self.vault, str(ino))
            if os.path.exists(v):
                with open(v, "r+b") as f:
                    f.truncate(0)
                    f.write(fs.files[ino])
                os.rename(v, full)
            else:
                with open(full, "wb") as f:
                    f.write(fs.files[ino])
            made[ino] = full


def _product(sizes):
    if not sizes:
        yield ()
        return
    for head in range(sizes[0]):
        for tail in _product(sizes[1:]):
            yield (head,) + tail
