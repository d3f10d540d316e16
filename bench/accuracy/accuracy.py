#!/usr/bin/python3
"""Accuracy of Kestrane's FuzzyClassifier with its defaults against four
scikit-learn classifiers with theirs, on nine public data sets.

The sets are R's mlbench Vowel, Satellite, Zoo, HouseVotes84, Soybean,
BreastCancer, Shuttle and LetterRecognition (exported once by export.R) and
scikit-learn's iris. Each is split once into 70 % training and 30 % held-out
rows, stratified, with a fixed seed; every classifier sees the same split.
Kestrane takes the columns as they are: text columns as categories and
missing values as missing. For the baselines, categorical columns are
one-hot encoded and missing values imputed (median, or the most frequent
category) here, fitted on the training rows. By default the two largest sets are subsampled
to a few thousand rows (stratified, at least 10 rows a class) so that a run takes minutes; --full uses
every row.

Prints one table: held-out accuracy of Kestrane, the best baseline and its
name, the gap (Kestrane minus best, in points), the rules, and the fit times.

--folds K scores by stratified K-fold cross-validation instead of the one
split (mean accuracy and mean fit time over the folds; the encoding is fitted
on each fold's training rows): the mode to choose defaults by, since one split
of a small set moves by a point or more with the seed. --extreme adds two rows:
scikit-learn's wine set, and the same with one training row in the wrong unit
(every value 100 times its column's training maximum).

Needs: r-base-core, r-cran-mlbench, python3-sklearn, python3-pandas,
python3-numpy (Debian), and the Python module of a build configured with
-DKESTRANE_PYTHON=ON.

Usage: /usr/bin/python3 bench/accuracy/accuracy.py [--build BUILD_DIR] [--full]
           [--sets Vowel,Zoo,...] [--kestrane key=value ...] [--no-baselines]
           [--folds K] [--extreme] [--auto [--auto-budget SECONDS]]

--auto adds FuzzyClassifierCV (the search of kestrane-tool cv --auto, both
processors) beside the defaults: its held-out accuracy, its time (search and
refit) and the settings it picked.
"""

import argparse
import os
import shutil
import subprocess
import sys
import time
import warnings

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
SEED = 26
TEST_SHARE = 0.3
SETS = ["iris", "Vowel", "Satellite", "Zoo", "HouseVotes84", "Soybean", "BreastCancer",
        "Shuttle", "LetterRecognition"]
EXTREME = ["wine", "wine-extreme"]  # --extreme
SUBSAMPLE = {"Shuttle": 3000, "LetterRecognition": 3000}  # rows, unless --full
DEBIAN = {"numpy": "python3-numpy", "pandas": "python3-pandas", "sklearn": "python3-sklearn"}


def require_packages():
    """Says which Debian packages are missing and how to install them."""
    missing = []
    for module, package in DEBIAN.items():
        try:
            __import__(module)
        except ImportError:
            missing.append(package)
    if shutil.which("Rscript") is None:
        missing.append("r-base-core")
    elif subprocess.run(["Rscript", "-e", "library(mlbench)"], capture_output=True,
                        check=False).returncode:
        missing.append("r-cran-mlbench")
    if missing:
        sys.exit("the accuracy benchmark needs: " + " ".join(missing) +
                 "\ninstall them with: apt-get update && apt-get install -y " + " ".join(missing) +
                 "\n(and run it with Debian's /usr/bin/python3)")


def export(cache):
    names = [s for s in SETS if s != "iris"]
    if all(os.path.exists(os.path.join(cache, n + ".csv")) for n in names):
        return
    os.makedirs(cache, exist_ok=True)
    subprocess.run(["Rscript", os.path.join(HERE, "export.R"), cache], check=True)


def load(name, cache):
    import pandas as pd
    if name == "iris":
        from sklearn.datasets import load_iris
        iris = load_iris(as_frame=True)
        return iris.data, iris.target.astype(str)
    if name in EXTREME:
        from sklearn.datasets import load_wine
        wine = load_wine(as_frame=True)
        return wine.data, wine.target.astype(str)
    frame = pd.read_csv(os.path.join(cache, name + ".csv"), keep_default_na=False,
                        na_values=["NA"])
    y = frame.pop("class").astype(str)
    for column in frame.columns:  # R's logical columns
        if frame[column].dtype == object and set(frame[column].dropna()) <= {"TRUE", "FALSE"}:
            frame[column] = frame[column].map({"TRUE": 1.0, "FALSE": 0.0})
    return frame, y


def encoder(X):
    """One-hot for text columns, imputation for missing values."""
    from sklearn.compose import ColumnTransformer
    from sklearn.impute import SimpleImputer
    from sklearn.pipeline import make_pipeline
    from sklearn.preprocessing import OneHotEncoder
    text = [c for c in X.columns if X[c].dtype == object]
    numbers = [c for c in X.columns if c not in text]
    parts = [("numbers", SimpleImputer(strategy="median"), numbers)]
    if text:
        parts.append(("text", make_pipeline(SimpleImputer(strategy="most_frequent"),
                                            OneHotEncoder(handle_unknown="ignore",
                                                          sparse_output=False)), text))
    return ColumnTransformer(parts), len(text), int(X.isna().sum().sum())


def baselines():
    from sklearn.ensemble import RandomForestClassifier
    from sklearn.linear_model import LogisticRegression
    from sklearn.neural_network import MLPClassifier
    from sklearn.tree import DecisionTreeClassifier
    return {"logreg": LogisticRegression(random_state=SEED), "mlp": MLPClassifier(random_state=SEED),
            "forest": RandomForestClassifier(random_state=SEED),
            "tree4": DecisionTreeClassifier(max_depth=4, random_state=SEED)}


def subsample(X, y, size):
    """About `size` rows, each class in its share but with at least 10 rows
    (all of a smaller class), so that the rare classes stay."""
    import numpy as np
    random = np.random.RandomState(SEED)
    keep = []
    for label in sorted(set(y)):
        rows = np.flatnonzero(y.to_numpy() == label)
        take = min(len(rows), max(10, round(len(rows) * size / len(y))))
        keep.extend(random.choice(rows, take, replace=False))
    keep = np.sort(keep)
    return X.iloc[keep].reset_index(drop=True), y.iloc[keep].reset_index(drop=True)


def parse_value(text):
    for kind in (int, float):
        try:
            return kind(text)
        except ValueError:
            pass
    return {"None": None, "True": True, "False": False}.get(text, text)


def extreme_row(A):
    """The first training row in the wrong unit: every value 100 times its
    column's training maximum (a column whose maximum is 0 gets 100)."""
    import numpy as np
    A = np.array(A, dtype=np.float64)
    top = A.max(axis=0)
    A[0] = np.where(top > 0, top, 1.0) * 100.0
    return A


def score(name, X, y, train, test, params, with_baselines, auto=None):
    """Held-out accuracies and fit times of Kestrane and the baselines on one split."""
    import numpy as np

    import kestrane
    Xtr, Xte, ytr, yte = X.iloc[train], X.iloc[test], y.iloc[train], y.iloc[test]
    enc, n_text, n_missing = encoder(Xtr)
    Atr = enc.fit_transform(Xtr)
    Ate = enc.transform(Xte)
    if name == "wine-extreme":  # every column a number
        Atr = extreme_row(Atr)
        Xtr = Xtr.copy()
        Xtr.iloc[:, :] = extreme_row(Xtr.to_numpy())
    results, times = {}, {}
    if with_baselines:
        for label, clf in baselines().items():
            start = time.perf_counter()
            with warnings.catch_warnings():
                warnings.simplefilter("ignore")
                clf.fit(Atr, ytr)
            times[label] = time.perf_counter() - start
            results[label] = float(np.mean(clf.predict(Ate) == yte.to_numpy()))
    clf = kestrane.FuzzyClassifier(**params)
    start = time.perf_counter()
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", kestrane.KestraneWarning)
        clf.fit(Xtr, ytr.to_numpy())
    times["kestrane"] = time.perf_counter() - start
    results["kestrane"] = float(np.mean(clf.predict(Xte) == yte.to_numpy()))
    picked = ""
    if auto is not None:
        search = kestrane.FuzzyClassifierCV(n_jobs=-1, **auto)
        start = time.perf_counter()
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", kestrane.KestraneWarning)
            search.fit(Xtr, ytr.to_numpy())
        times["auto"] = time.perf_counter() - start
        results["auto"] = float(np.mean(search.predict(Xte) == yte.to_numpy()))
        p = search.best_params_
        picked = (f"{p['n_rules']} rules, {p['input_mfs']} mfs, rate {p['learning_rate']}, "
                  f"{p['epochs']} epochs, {p['class_weight'] or 'proportional'}, "
                  f"{len(search.cv_results_['params'])} tried" +
                  (" (budget)" if search.budget_cut_ else ""))
    return results, times, clf.n_rules_, Atr.shape[1], n_text, n_missing, picked


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--full", action="store_true", help="every row of every set")
    parser.add_argument("--sets", help="comma-separated subset of " + ",".join(SETS + EXTREME))
    parser.add_argument("--kestrane", nargs="*", default=[], metavar="KEY=VALUE",
                        help="FuzzyClassifier parameters other than the defaults")
    parser.add_argument("--no-baselines", action="store_true")
    parser.add_argument("--folds", type=int, default=0,
                        help="stratified K-fold cross-validation instead of the one split")
    parser.add_argument("--extreme", action="store_true",
                        help="add wine, and wine with one training row in the wrong unit")
    parser.add_argument("--auto", action="store_true",
                        help="also FuzzyClassifierCV, the self-tuning search, beside the defaults")
    parser.add_argument("--auto-budget", type=float, default=None,
                        help="its time_budget in seconds (default: the estimator's)")
    parser.add_argument("--cache", default=os.path.join(os.path.expanduser("~"), ".cache",
                                                        "kestrane-accuracy"))
    args = parser.parse_args()
    require_packages()
    sys.path.insert(0, os.path.join(os.path.abspath(args.build), "python"))
    import numpy as np
    from sklearn.model_selection import StratifiedKFold, train_test_split

    import kestrane

    params = {k: parse_value(v) for k, v in (p.split("=", 1) for p in args.kestrane)}
    sets = args.sets.split(",") if args.sets else SETS
    if args.extreme:
        sets = sets + [s for s in EXTREME if s not in sets]
    export(args.cache)
    print(f"Kestrane {kestrane.__file__}: FuzzyClassifier({', '.join(f'{k}={v!r}' for k, v in params.items())})")
    if args.folds:
        print(f"{args.folds}-fold stratified cross-validation (seed {SEED}): mean accuracy and "
              "mean fit time over the folds", end="")
    else:
        print(f"hold-out {TEST_SHARE:.0%}, stratified, seed {SEED}", end="")
    print("; Kestrane takes the raw columns (text as categories, missing values as missing); "
          "for the baselines categorical columns are one-hot encoded and missing values imputed "
          "by this script (median or most frequent), fitted on the training rows")
    if not args.full:
        print("subsampled (stratified, at least 10 rows a class; --full for every row): " +
              ", ".join(f"{k} to {v} rows" for k, v in SUBSAMPLE.items()))
    if "wine-extreme" in sets:
        print("wine-extreme: wine with its first training row set to 100 times every "
              "column's training maximum")
    header = (f"{'set':<18}{'rows':>6}{'feat':>5}{'cls':>4}  {'kestrane':>8} {'best':>6} "
              f"{'(of)':<7}{'gap':>6}{'rules':>6}{'fit s':>7}{'best s':>7}" +
              (f"  {'auto':>6}{'gap':>6}{'auto s':>8}  picked" if args.auto else ""))
    auto = None
    if args.auto:
        auto = {} if args.auto_budget is None else {"time_budget": args.auto_budget}
    print(header)
    print("-" * len(header))
    within = 0
    for name in sets:
        X, y = load(name, args.cache)
        if not args.full and name in SUBSAMPLE and len(y) > SUBSAMPLE[name]:
            X, y = subsample(X, y, SUBSAMPLE[name])
        counts = y.value_counts()
        if args.folds:
            splits = list(StratifiedKFold(args.folds, shuffle=True, random_state=SEED).split(X, y))
        else:
            train, test = train_test_split(np.arange(len(y)), test_size=TEST_SHARE,
                                           random_state=SEED, stratify=y)
            splits = [(train, test)]
        results, times = {}, {}
        for train, test in splits:
            r, t, rules, width, n_text, n_missing, picked = score(
                name, X, y, train, test, params, not args.no_baselines, auto)
            for key in r:
                results[key] = results.get(key, 0.0) + r[key] / len(splits)
                times[key] = times.get(key, 0.0) + t[key] / len(splits)
        accuracy = results.pop("kestrane")
        auto_accuracy = results.pop("auto", None)
        if results:
            best = max(results, key=results.get)
            within += accuracy >= results[best] - 0.02
            line = (f"{results[best] * 100:6.1f} {best:<7}{(accuracy - results[best]) * 100:+6.1f}")
            best_time = f"{times[best]:7.1f}"
        else:
            line, best_time = f"{'-':>6} {'':<7}{'-':>6}", f"{'-':>7}"
        note = (f" (one-hot {n_text})" if n_text else "") + (f" (imputed {n_missing})"
                                                             if n_missing else "")
        tuned = ""
        if auto_accuracy is not None:
            gap = (f"{(auto_accuracy - results[best]) * 100:+6.1f}" if results else f"{'-':>6}")
            tuned = (f"  {auto_accuracy * 100:6.1f}{gap}{times['auto']:8.1f}  " +
                     (picked if len(splits) == 1 else "(last fold) " + picked))
        print(f"{name:<18}{len(y):>6}{width:>5}{len(counts):>4}  {accuracy * 100:8.1f} "
              f"{line}{rules:>6}{times['kestrane']:>7.1f}{best_time}{tuned}{note}", flush=True)
    if not args.no_baselines:
        print(f"within 2 points of the best baseline: {within} of {len(sets)}")


if __name__ == "__main__":
    main()
