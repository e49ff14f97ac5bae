"""Outputs written as the suite's tools write them: under a temporary name in the final folder,
renamed over the final name when complete; never over a device, a pipe, a folder or an input."""

from __future__ import annotations

import os
import stat


class OutputError(ValueError):
    """An output that must not be written (a device, a pipe, a folder, one of the inputs)."""


def check_output(path: str, inputs=()) -> None:
    """Refuses ``path`` when it exists as anything but a regular file, when its folder does not
    exist, or when it is the same file as one of ``inputs``."""
    folder = os.path.dirname(path) or "."
    if not os.path.isdir(folder):
        raise OutputError(f"cannot write {path}: folder {folder} does not exist")
    try:
        st = os.stat(path)
    except FileNotFoundError:
        return
    if stat.S_ISDIR(st.st_mode):
        raise OutputError(f"cannot write {path}: it is a folder")
    if not stat.S_ISREG(st.st_mode):
        raise OutputError(f"cannot write {path}: it is not a regular file (a device, pipe or "
                          "socket), refusing to replace it")
    for i in inputs:
        if i and os.path.exists(i) and os.path.samefile(path, i):
            raise OutputError(f"output {path} is the input {i}; refusing to overwrite it")


class AtomicFile:
    """A file written under a temporary name beside ``path`` and renamed to ``path`` by
    commit(); removed if never committed. Every write and the close are checked (OSError)."""

    def __init__(self, path: str):
        self.path = path
        folder, name = os.path.split(path)
        for attempt in range(100):
            suffix = f".{attempt}" if attempt else ""
            tmp = os.path.join(folder, f".{name}.tmp{os.getpid()}{suffix}")
            try:
                # 0666 less the umask, as the C++ tools create their outputs.
                fd = os.open(tmp, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o666)
                break
            except FileExistsError:
                continue
        else:
            raise OutputError(f"cannot create a temporary file beside {path}")
        self.tmp = tmp
        self._file = os.fdopen(fd, "wb")

    def write(self, data) -> None:
        self._file.write(data)

    def commit(self) -> None:
        self._file.close()
        os.replace(self.tmp, self.path)
        self.tmp = None

    def discard(self) -> None:
        if self.tmp is not None:
            try:
                self._file.close()
            except OSError:
                pass
            try:
                os.unlink(self.tmp)
            except FileNotFoundError:
                pass
            self.tmp = None

    def __enter__(self):
        return self

    def __exit__(self, kind, value, tb):
        if kind is not None:
            self.discard()
        elif self.tmp is not None:
            self.commit()
        return False


def atomic_write(path: str, data: bytes, inputs=()) -> None:
    check_output(path, inputs)
    with AtomicFile(path) as f:
        f.write(data)
