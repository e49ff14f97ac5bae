import os

import numpy as np
import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.environ.get("RASTERTOOLS_DATA") or os.path.join(HERE, "..", "..", "data")

# Float32 bit patterns a round trip must keep: NaN payloads (quiet and signalling), -0, the
# smallest denormal, infinities, the largest float.
SPECIAL_BITS = np.array([0x7FC00001, 0x7F800001, 0xFFC12345, 0x80000000, 0x00000001,
                         0x7F800000, 0xFF800000, 0x7F7FFFFF], dtype="<u4")


def data_grid(name: str) -> str:
    return os.path.join(DATA, name)


def values(nbands: int, npixel: int, seed: int = 1, special: bool = True) -> np.ndarray:
    """Float32 values with the special bit patterns in band 0."""
    v = np.random.default_rng(seed).normal(280, 20, (nbands, npixel)).astype("<f4")
    k = min(npixel, len(SPECIAL_BITS)) if special else 0
    v[0, :k] = SPECIAL_BITS[:k].view("<f4")
    return v


def write_grid(path: str, lon100, lat100) -> str:
    np.stack([np.asarray(lon100), np.asarray(lat100)], axis=1).astype("<i2").tofile(path)
    return path


@pytest.fixture
def tmp(tmp_path, monkeypatch):
    """A temporary working folder (relative paths as users write them)."""
    monkeypatch.chdir(tmp_path)
    return tmp_path
