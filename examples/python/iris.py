"""Kestrane from Python, start to end: fit on the shipped iris CSV, measure on
held-out rows, read the rules, save the files the programs read and load them
back. Run it after `pip install .`:

    python examples/python/iris.py
"""

import csv
import pathlib
import tempfile

import numpy as np
from sklearn.model_selection import train_test_split

import kestrane

IRIS = pathlib.Path(__file__).resolve().parents[1] / "iris" / "iris.csv"


def main():
    with open(IRIS, newline="") as f:
        _header, *rows = list(csv.reader(f))
    X = np.array([[float(v) for v in row[:-1]] for row in rows])
    y = np.array([row[-1] for row in rows])
    X_train, X_test, y_train, y_test = train_test_split(X, y, test_size=0.3, stratify=y,
                                                        random_state=7)

    clf = kestrane.FuzzyClassifier(epochs=500, random_state=7)
    clf.fit(X_train, y_train)
    print(f"kestrane {kestrane.__version__}: {clf.n_rules_} rules, {clf.n_iter_} epochs, "
          f"last error {clf.training_error_:.4f}")
    print(f"held-out accuracy: {clf.score(X_test, y_test):.3f}")

    for rule in clf.rules(top=2)["rules"]:
        conditions = " and ".join(c["text"] for c in rule["conditions"])
        print(f"rule {rule['rank']}: if {conditions} then {rule['conclusion']}")

    with tempfile.TemporaryDirectory() as folder:
        files = clf.save(pathlib.Path(folder) / "iris")
        loaded = kestrane.load(pathlib.Path(folder) / "iris")
        assert (loaded.predict(X_test) == clf.predict(X_test)).all()
        print("saved and loaded:", ", ".join(pathlib.Path(f).name for f in files))


if __name__ == "__main__":
    main()
