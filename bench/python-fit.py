#!/usr/bin/python3
"""Times FuzzyClassifier.fit against the programs on the same work, and
predict on 100,000 rows.

For the three sizes of bench/full-run.sh (on-line and batch, ROWS rows per
class, default 300) it writes a CSV file, runs kestrane-tool import and
create, then times the Kestrane run and the estimator's fit with the same
settings and seed (best of REPEAT, default 3, alternating). The two networks
must be identical to the byte.

Usage: PYTHONPATH=build/python bench/python-fit.py [BUILD_DIR]
"""

import os
import re
import subprocess
import sys
import tempfile
import time

import numpy as np

import kestrane

SIZES = [  # name, inputs, input functions, rules, classes, output functions, epochs
    ("small", 4, 3, 12, 3, 3, 2000),
    ("medium", 13, 3, 40, 3, 3, 500),
    ("large", 30, 4, 100, 2, 5, 150),
]
SEED = 7


def data(inputs, classes, rows, seed):
    """Inputs scattered around a class-dependent level, as full-run.sh makes them."""
    rng = np.random.default_rng(seed)
    X, y = [], []
    for c in range(classes):
        level = np.array([c / (classes - 1) if i % 2 == 0 else 1 - c / (classes - 1)
                          for i in range(inputs)])
        X.append(0.6 * level + 0.4 * rng.random((rows, inputs)))
        y += [f"c{c}"] * rows
    return np.round(np.vstack(X), 6), np.array(y)


def best(function, repeat):
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        function()
        times.append(time.perf_counter() - start)
    return min(times)


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")
    tool, driver = os.path.join(build, "kestrane-tool"), os.path.join(build, "Kestrane")
    rows = int(os.environ.get("ROWS", "300"))
    repeat = int(os.environ.get("REPEAT", "3"))
    print(f"{'size':8} {'mode':6} {'epochs':>7} {'Kestrane s':>11} {'fit s':>8} {'ratio':>6}")
    with tempfile.TemporaryDirectory() as work:
        for name, inputs, in_mfs, rules, classes, out_mfs, epochs in SIZES:
            X, y = data(inputs, classes, rows, SEED)
            header = [f"f{i}" for i in range(inputs)] + ["class"]
            with open(os.path.join(work, f"{name}.csv"), "w") as f:
                f.write(",".join(header) + "\n")
                for row, label in zip(X, y):
                    f.write(",".join(repr(v) for v in row) + f",{label}\n")
            for batch in (False, True):
                run = lambda *args: subprocess.run(args, cwd=work, check=True, stdout=subprocess.DEVNULL)
                run(tool, "import", f"{name}.csv", "--seed", str(SEED), "--epochs", str(epochs),
                    "--change-after", "10", "--learning-rate", "0.1", "--momentum", "0.5",
                    "-o", name)
                # Batch mode with the same learning rate (import --batch would divide it).
                param = os.path.join(work, f"{name}.param")
                with open(param) as f:
                    text = re.sub(r"(?m)^Batch = \w+", f"Batch = {str(batch).lower()}", f.read())
                with open(param, "w") as f:
                    f.write(text)
                run(tool, "create", "--inputs", str(inputs), "--input-mfs", str(in_mfs),
                    "--rules", str(rules), "--outputs", str(classes), "--output-mfs", str(out_mfs),
                    "--seed", str(SEED), "-o", f"{name}-initial.wgt")
                clf = kestrane.FuzzyClassifier(n_rules=rules, input_mfs=in_mfs, output_mfs=out_mfs,
                                               epochs=epochs, change_after=10, learning_rate=0.1,
                                               momentum=0.5, batch=batch, random_state=SEED)
                program = fitted = float("inf")
                for _ in range(repeat):
                    program = min(program, best(lambda: run(driver, f"{name}.param"), 1))
                    fitted = min(fitted, best(lambda: clf.fit(X, y), 1))
                with open(os.path.join(work, f"{name}-trained.wgt")) as f:
                    if f.read() != clf._model.text():
                        sys.exit(f"{name}: the networks differ")
                print(f"{name:8} {'batch' if batch else 'online':6} {epochs:7} {program:11.3f} "
                      f"{fitted:8.3f} {fitted / program:6.2f}")

        X, y = data(4, 3, 100, SEED)
        clf = kestrane.FuzzyClassifier(epochs=50, random_state=SEED).fit(X, y)
        many = np.random.default_rng(1).random((100_000, 4))
        print(f"predict, 100,000 rows of 4 features: {best(lambda: clf.predict(many), repeat):.3f} s")
        print(f"predict_proba, the same rows: {best(lambda: clf.predict_proba(many), repeat):.3f} s")


if __name__ == "__main__":
    main()
