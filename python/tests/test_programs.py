"""The estimator and the programs give the same files and the same answers."""

import io
import json
import subprocess
from pathlib import Path

import numpy as np
import pandas as pd
import pytest

import kestrane
from conftest import IRIS_CSV

SEED = 5
SETTINGS = {"epochs": 40, "change_after": 5, "learning_rate": 0.1, "momentum": 0.5}


def run(*command, cwd):
    subprocess.run(command, cwd=cwd, check=True, stdout=subprocess.DEVNULL)


# Integer labels order by value in both ("2" before "10"), not as text.
@pytest.mark.parametrize("relabel", [None, {"setosa": 11, "versicolor": 2, "virginica": 10}])
def test_fit_writes_the_files_of_import_create_and_a_seeded_run(iris, programs, tmp_path, relabel):
    header, X, y = iris
    csv = IRIS_CSV
    if relabel:
        y = np.array([relabel[v] for v in y])
        csv = tmp_path / "relabelled.csv"
        pd.DataFrame(X, columns=header[:-1]).assign(**{header[-1]: y}).to_csv(csv, index=False)
    tool, driver = programs["kestrane-tool"], programs["Kestrane"]
    run(tool, "import", str(csv), "--seed", str(SEED),
        "--epochs", "40", "--change-after", "5", "--learning-rate", "0.1", "--momentum", "0.5",
        "-o", "iris", cwd=tmp_path)
    # The estimator's centres sit at the quantiles of the rows import wrote.
    class_files = ",".join(sorted(p.name for p in tmp_path.glob("iris-*.dat")))
    run(tool, "create", "--inputs", "4", "--rules", "12", "--outputs", "3", "--seed", str(SEED),
        "--centres", "quantile", "--data", class_files, "-o", "iris-initial.wgt", cwd=tmp_path)
    run(driver, "iris.param", cwd=tmp_path)

    frame = pd.DataFrame(X, columns=header[:-1])
    labels = pd.Series(y, name=header[-1])
    clf = kestrane.FuzzyClassifier(n_rules=12, random_state=SEED, **SETTINGS).fit(frame, labels)
    network, ranges, _ = clf.save(tmp_path / "fitted")
    assert Path(network).read_bytes() == (tmp_path / "iris-trained.wgt").read_bytes()
    assert Path(ranges).read_bytes() == (tmp_path / "iris.ranges").read_bytes()

    # The programs' files load into an estimator that answers as the fitted one.
    (tmp_path / "iris.wgt").write_bytes((tmp_path / "iris-trained.wgt").read_bytes())
    loaded = kestrane.load(tmp_path / "iris")
    assert list(loaded.feature_names_in_) == header[:-1]
    assert list(loaded.classes_) == sorted(set(y))
    np.testing.assert_array_equal(loaded.classes_, clf.classes_)
    np.testing.assert_array_equal(loaded.predict(frame), clf.predict(frame))
    np.testing.assert_array_equal(loaded.decision_function(frame), clf.decision_function(frame))

    # predict answers as kestrane-tool predict does on the trained network.
    table = subprocess.run([tool, "predict", "iris-trained.wgt", str(csv), "--ranges", "iris.ranges"],
                           cwd=tmp_path, check=True, capture_output=True, text=True).stdout
    # pandas 3 reads floats exactly by default and deprecates the option.
    exact = {} if int(pd.__version__.split(".")[0]) >= 3 else {"float_precision": "round_trip"}
    answers = pd.read_csv(io.StringIO(table), **exact)
    np.testing.assert_array_equal(clf.predict(frame), answers["predicted"])
    np.testing.assert_array_equal(clf.decision_function(frame),
                                  answers[[str(c) for c in clf.classes_]])



def test_rules_are_those_of_the_rules_command(iris, programs, tmp_path):
    header, X, y = iris
    frame = pd.DataFrame(X, columns=header[:-1])
    clf = kestrane.FuzzyClassifier(random_state=SEED, **SETTINGS).fit(frame, pd.Series(y, name=header[-1]))
    clf.save(tmp_path / "iris")
    frame.assign(species=y).to_csv(tmp_path / "rows.csv", index=False)
    for rows, extra in (({}, []), ({"X": frame, "y": y}, ["--data", "rows.csv"])):
        printed = subprocess.run(
            [programs["kestrane-tool"], "rules", "iris.wgt", "--ranges", "iris.ranges", "--top", "3",
             "--json", *extra], cwd=tmp_path, check=True, capture_output=True, text=True).stdout
        expected = json.loads(printed)
        got = clf.rules(top=3, **rows)
        for source in ("network", "data"):
            expected.pop(source), got.pop(source)
        assert got == expected
        assert [v["name"] for v in got["inputs"]] == header[:-1]
        assert [v["name"] for v in got["outputs"]] == list(clf.classes_)
