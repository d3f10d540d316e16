import csv
import os
import pathlib

import numpy as np
import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
IRIS_CSV = ROOT / "examples" / "iris" / "iris.csv"


def read_iris():
    """Feature names, rows and class labels of the shipped iris CSV, the
    numbers parsed exactly (float() rounds correctly, as strtod does)."""
    with open(IRIS_CSV, newline="") as f:
        rows = list(csv.reader(f))
    header, body = rows[0], rows[1:]
    X = np.array([[float(v) for v in row[:-1]] for row in body])
    y = np.array([row[-1] for row in body], dtype=object)
    return header, X, y


@pytest.fixture(scope="session")
def iris():
    return read_iris()


@pytest.fixture(scope="session")
def programs():
    """The Kestrane and kestrane-tool programs of the build under test."""
    found = {}
    for key, name in (("KESTRANE_BINARY", "Kestrane"), ("KESTRANE_TOOL_BINARY", "kestrane-tool")):
        path = os.environ.get(key) or str(ROOT / "build" / name)
        if not os.access(path, os.X_OK):
            pytest.skip(f"{name} not built ({path})")
        found[name] = path
    return found
