#!/usr/bin/python3
"""Rows per second of FuzzyClassifier.predict beside scikit-learn's
MLPClassifier(hidden_layer_sizes=(20,)) on the same 100,000 rows.

Both classifiers are fitted on the small case of bench/full-run.sh (4 inputs,
3 classes; the fuzzy network with 3 functions per input and 12 rules); the
time of a predict does not depend on how well they learned. Prints the best
of REPEAT (default 5) calls of each, alternating.

Usage: PYTHONPATH=build/python bench/python-predict.py
"""

import os
import time
import warnings

import numpy as np
from sklearn.exceptions import ConvergenceWarning
from sklearn.neural_network import MLPClassifier

import kestrane

ROWS = 100_000


def data(inputs, classes, rows, seed):
    """Inputs scattered around a class-dependent level, as full-run.sh makes them."""
    rng = np.random.default_rng(seed)
    X, y = [], []
    for c in range(classes):
        level = np.array([c / (classes - 1) if i % 2 == 0 else 1 - c / (classes - 1)
                          for i in range(inputs)])
        X.append(0.6 * level + 0.4 * rng.random((rows, inputs)))
        y += [c] * rows
    return np.vstack(X), np.array(y)


def main():
    repeat = int(os.environ.get("REPEAT", "5"))
    X, y = data(4, 3, 300, 7)
    fuzzy = kestrane.FuzzyClassifier(n_rules=12, epochs=50, random_state=7).fit(X, y)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", ConvergenceWarning)
        mlp = MLPClassifier(hidden_layer_sizes=(20,), max_iter=50, random_state=7).fit(X, y)
    many = np.random.default_rng(1).random((ROWS, 4))
    best = {"kestrane": float("inf"), "mlp": float("inf")}
    for _ in range(repeat):
        for name, clf in (("kestrane", fuzzy), ("mlp", mlp)):
            started = time.perf_counter()
            clf.predict(many)
            best[name] = min(best[name], time.perf_counter() - started)
    print(f"python predict, {ROWS:,} rows of 4 features: "
          f"kestrane {ROWS / best['kestrane'] / 1e6:.2f} M rows/s, "
          f"MLPClassifier(20) {ROWS / best['mlp'] / 1e6:.2f} M rows/s")


if __name__ == "__main__":
    main()
