"""FuzzyClassifier as a scikit-learn estimator: the library's own checks,
labels, probabilities, pickling, threads and plots."""

import importlib.metadata
import inspect
import json
import os
import pickle
import re
import shutil
import signal
import stat
import subprocess
import sys
import threading
import time
from pathlib import Path

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt
import numpy as np
import pandas as pd
import pytest
from sklearn.base import clone
from sklearn.exceptions import NotFittedError
from sklearn.utils._param_validation import InvalidParameterError
from sklearn.utils.estimator_checks import parametrize_with_checks

import kestrane
import kestrane.plot
from conftest import ROOT
from kestrane._layers import WeightLayer

FAST = {"epochs": 30, "change_after": 5}


def _checks():
    estimators = [kestrane.FuzzyClassifier(epochs=100)]
    if "expected_failed_checks" in inspect.signature(parametrize_with_checks).parameters:
        return parametrize_with_checks(
            estimators, expected_failed_checks=lambda _: kestrane._estimator._XFAIL_CHECKS)
    return parametrize_with_checks(estimators)  # the _xfail_checks tag of _more_tags


@_checks()
def test_scikit_learn_checks(estimator, check):
    check(estimator)


@pytest.fixture(scope="module")
def fitted(iris):
    header, X, y = iris
    frame = pd.DataFrame(X, columns=header[:-1])
    return kestrane.FuzzyClassifier(random_state=3, **FAST).fit(frame, y), frame, y


@pytest.mark.parametrize("labels", [
    np.array(["b", "a", "c"]),
    np.array([20, 3, 100]),
    np.array([-1.0, 0.0, 2.0]),
    np.array([True, False]),
])
def test_labels_of_any_kind_come_back_sorted_and_through_save_and_load(iris, labels, tmp_path):
    _, X, y = iris
    codes = np.unique(y, return_inverse=True)[1] % len(labels)
    clf = kestrane.FuzzyClassifier(n_rules=5, momentum=0.25, **FAST).fit(X, labels[codes])
    np.testing.assert_array_equal(clf.classes_, np.sort(labels))
    assert set(clf.predict(X)) <= set(labels)
    assert clf.score(X, labels[codes]) > 0.6
    clf.save(tmp_path / "m")
    loaded = kestrane.load(tmp_path / "m")
    assert loaded.classes_.dtype == clf.classes_.dtype
    np.testing.assert_array_equal(loaded.predict(X), clf.predict(X))
    # The fit parameters come back, so a clone trains what the original did.
    assert loaded.get_params() == clf.get_params()
    assert clone(loaded).fit(X, labels[codes])._model.text() == clf._model.text()


def test_answers_agree_with_each_other(fitted):
    clf, frame, _ = fitted
    # Defaults: rules as import suggests; one error per epoch, rounds never cut short.
    assert clf.n_rules_ == 7 and clf.n_iter_ == 30 and clf.loss_curve_.shape == (30,)
    assert clf.loss_curve_[-1] == clf.training_error_
    p = clf.predict_proba(frame)
    raw = clf.decision_function(frame)
    assert list(clf.feature_names_in_) == list(frame.columns)
    assert clf.n_features_in_ == 4
    np.testing.assert_allclose(clf.feature_ranges_, np.c_[frame.min(), frame.max()])
    np.testing.assert_allclose(p.sum(axis=1), 1.0)
    assert (p >= 0).all()
    np.testing.assert_allclose(p, np.clip(raw, 0, None) / np.clip(raw, 0, None).sum(1, keepdims=True))
    np.testing.assert_array_equal(clf.predict(frame), clf.classes_[raw.argmax(axis=1)])
    # Outside the training ranges the inputs are clipped, as import --ranges does.
    far = frame.copy()
    far.iloc[:, 0] = 1e6
    edge = frame.copy()
    edge.iloc[:, 0] = frame.iloc[:, 0].max()
    np.testing.assert_array_equal(clf.decision_function(far), clf.decision_function(edge))


def test_all_outputs_below_zero_share_the_probability_among_the_largest():
    p = kestrane._estimator._probabilities(np.array([[-0.2, -0.1, -0.1], [0.5, -1.0, 0.5]]))
    np.testing.assert_allclose(p, [[0, 0.5, 0.5], [0.5, 0, 0.5]])


def test_pickle_and_save_keep_every_answer(fitted, tmp_path):
    clf, frame, _ = fitted
    copies = [pickle.loads(pickle.dumps(clf))]
    clf.save(tmp_path / "model")
    copies.append(kestrane.load(tmp_path / "model"))
    for copy in copies:
        np.testing.assert_array_equal(copy.decision_function(frame), clf.decision_function(frame))
        np.testing.assert_array_equal(copy.classes_, clf.classes_)
        assert copy._model.text() == clf._model.text()


def test_save_replaces_every_file_or_none(fitted, tmp_path):
    clf, _, _ = fitted
    (tmp_path / "model.wgt").write_text("old")
    (tmp_path / "model.ranges").mkdir()  # cannot be replaced by a file
    with pytest.raises(OSError, match="model.ranges"):
        clf.save(tmp_path / "model")
    assert (tmp_path / "model.wgt").read_text() == "old"
    assert sorted(p.name for p in tmp_path.iterdir()) == ["model.ranges", "model.wgt"]


def _mode_kept(path):
    path.write_text("old")
    path.chmod(0o600)
    return lambda: path.stat().st_mode & 0o777 == 0o600


def _link_kept(path):
    (path.parent / "elsewhere").mkdir()
    path.symlink_to(path.parent / "elsewhere" / "real.wgt")
    return lambda: path.is_symlink() and "[NeuralNetwork]" in path.read_text()


def _device_kept(path):
    os.mknod(path, 0o666 | stat.S_IFCHR, os.makedev(1, 3))  # a private /dev/null
    return lambda: stat.S_ISCHR(path.stat().st_mode)


# The library's safe save writes the files, as it does for the programs.
@pytest.mark.parametrize("target", [_mode_kept, _link_kept, _device_kept])
def test_save_keeps_what_stands_at_the_target(fitted, tmp_path, target):
    clf, _, _ = fitted
    kept = target(tmp_path / "m.wgt")
    clf.save(tmp_path / "m")
    assert kept()
    assert not [p for p in tmp_path.iterdir() if p.name.startswith(".")]  # no temporary file


@pytest.mark.parametrize("prefix, rename, error, message", [
    ("", None, ValueError, "names no file"),
    ("folder/", None, ValueError, "names no file"),
    ("m", {"sepal_length": "sepal\tlength"}, ValueError, "tab or a line break"),
    ("m", {"sepal_width": "sepal\nwidth"}, ValueError, "tab or a line break"),
    ("missing/m", None, OSError, "missing"),
])
def test_save_refuses_what_the_files_cannot_hold(iris, tmp_path, monkeypatch, prefix, rename,
                                                 error, message):
    header, X, y = iris
    (tmp_path / "folder").mkdir()
    monkeypatch.chdir(tmp_path)
    frame = pd.DataFrame(X, columns=header[:-1]).rename(columns=rename or {})
    clf = kestrane.FuzzyClassifier(**FAST).fit(frame, y)
    with pytest.raises(error, match=message):
        clf.save(prefix)
    assert sorted(p.name for p in tmp_path.rglob("*")) == ["folder"]


def _endless(path):
    os.mknod(path, 0o666 | stat.S_IFCHR, os.makedev(1, 5))  # a private /dev/zero
    return ValueError, "NUL byte"


def _latin1_names(path):
    text = (ROOT / "examples" / "iris" / "iris.ranges").read_bytes()
    path.write_bytes(text.replace(b"sepal_length", b"s\xe9pale").replace(b"setosa", b"s\xe9tosa"))
    return None, None


def _truncated(path):
    path.write_text("kestrane-ranges 1\nclass\tspecies\n")
    return ValueError, "lacks its class, feature or output lines"


# load reads the files as the programs do: what they refuse, it refuses, at once.
@pytest.mark.parametrize("ranges", [_endless, _latin1_names, _truncated])
def test_load_reads_the_files_as_the_programs_do(tmp_path, ranges):
    (tmp_path / "m.wgt").write_bytes((ROOT / "examples" / "iris" / "iris-initial.wgt").read_bytes())
    error, message = ranges(tmp_path / "m.ranges")
    if error:
        with pytest.raises(error, match=message):
            kestrane.load(tmp_path / "m")
        return
    clf = kestrane.load(tmp_path / "m")
    assert clf.feature_names_in_[0] == "s\udce9pale" and clf.classes_[0] == "s\udce9tosa"
    clf.save(tmp_path / "again")
    assert (tmp_path / "again.ranges").read_bytes() == (tmp_path / "m.ranges").read_bytes()


@pytest.mark.parametrize("weights, equivalent", [
    ("ones", None),                      # each row once: the fit without weights
    ("integers", "repeated"),            # k copies of a row: the row repeated k times
    ("halves", "integers"),              # scaled so that the smallest positive weight is 1
])
def test_sample_weights_count_as_copies_of_rows(iris, weights, equivalent):
    _, X, y = iris
    k = np.arange(len(y)) % 3
    given = {"ones": np.ones(len(y)), "integers": k.astype(float), "halves": 0.5 * k}

    def network(w):
        if w == "repeated":
            return kestrane.FuzzyClassifier(**FAST).fit(np.repeat(X, k, 0), np.repeat(y, k))
        return kestrane.FuzzyClassifier(**FAST).fit(X, y, sample_weight=given.get(w))
    assert network(weights)._model.text() == network(equivalent)._model.text()


@pytest.mark.parametrize("params, message", [
    ({"n_rules": 0}, "'n_rules'"),
    ({"n_rules": 2**40}, "'n_rules'"),
    ({"input_mfs": 1}, "'input_mfs'"),
    ({"input_mfs": [3, 1, 3, 3]}, "'input_mfs'"),
    ({"output_mfs": [3, 3]}, "^output_mfs: 2 numbers given"),
    ({"weight_range": (1, 0)}, "'weight_range'"),
    ({"weight_range": (0, 0)}, "'weight_range'"),
    ({"weight_range": (-np.inf, np.inf)}, "'weight_range'"),
    ({"weight_range": (-1e308, 1e308)}, "^weight_range: .* the width overflows"),
    ({"epochs": 0}, "'epochs'"),
    ({"epochs": 2**31}, "'epochs'"),
    ({"change_after": 1.5}, "'change_after'"),
    ({"learning_rate": -1}, "'learning_rate'"),
    ({"learning_rate": np.nan}, "'learning_rate'"),
    ({"learning_rate": np.inf}, "learning_rate"),
    ({"learning_rate": 1e39}, "^learning_rate: inf"),
    ({"momentum": -5}, "'momentum'"),
    ({"momentum": 1.1}, "'momentum'"),
    ({"batch": "no"}, "'batch'"),
    ({"examples_per_class": 0}, "'examples_per_class'"),
    ({"class_weight": None, "examples_per_class": 3}, "'examples_per_class'"),
    ({"class_weight": "balanced", "examples_per_class": 51},
     "'examples_per_class'.*at most the 50 rows"),
    ({"class_weight": "proportional"}, "'class_weight'"),
    ({"class_weight": {"setosa": -1.0}}, "class_weight"),
    ({"examples_per_round": 0}, "'examples_per_round'"),
    ({"random_state": -1}, "'random_state'"),
    ({"verbose": -1}, "'verbose'"),
    ({"scaling": "clip"}, "'scaling'"),
    ({"centres": "median"}, "'centres'"),
    ({"validation_fraction": 1.0}, "'validation_fraction'"),
    ({"n_iter_no_change": 0}, "'n_iter_no_change'"),
])
def test_bad_settings_are_refused_at_fit(iris, params, message):
    _, X, y = iris
    clf = kestrane.FuzzyClassifier(**FAST)
    with pytest.raises(ValueError, match=message) as refused:
        clf.set_params(**params).fit(X, y)
    # In scikit-learn's own form where the message is scikit-learn's.
    assert isinstance(refused.value, InvalidParameterError) or not message.startswith("'")
    assert not hasattr(clf, "classes_")


@pytest.mark.parametrize("weights, message", [
    (-np.ones(150), "at least 0"),
    (np.r_[np.zeros(50), np.ones(100)], "class 'setosa' has no row of positive weight"),
    (np.ones(3), "sample_weight"),
])
def test_bad_sample_weights_are_refused(iris, weights, message):
    _, X, y = iris
    with pytest.raises(ValueError, match=message):
        kestrane.FuzzyClassifier(**FAST).fit(X, y, sample_weight=weights)


def test_verbose_reports_progress_and_ctrl_c_stops_a_fit_at_once(iris, capsys):
    _, X, y = iris
    kestrane.FuzzyClassifier(verbose=1, **FAST).fit(X, y)
    assert re.fullmatch(r"epoch 30/30  error [0-9.e-]+  [0-9.]+ s\n", capsys.readouterr().err)
    clf = kestrane.FuzzyClassifier(**FAST).fit(X, y)
    timer = threading.Timer(0.5, os.kill, (os.getpid(), signal.SIGINT))
    start = time.perf_counter()
    timer.start()
    with pytest.raises(KeyboardInterrupt):
        clf.set_params(epochs=10**7).fit(X, y)  # minutes of training
    assert time.perf_counter() - start < 1.5
    with pytest.raises(NotFittedError):
        clf.predict(X)


OUT_OF_MEMORY = """
import resource
import numpy as np
import kestrane
size = int(next(line for line in open("/proc/self/status") if line.startswith("VmSize")).split()[1])
resource.setrlimit(resource.RLIMIT_AS, (size * 1024 + 2**28,) * 2)  # 256 MB more
try:  # about a gigabyte of weights
    kestrane.FuzzyClassifier(n_rules=900000, epochs=1).fit(np.eye(4), [0, 1, 2, 0])
except MemoryError as failure:
    print("MemoryError:", failure)
"""


def test_running_out_of_memory_is_a_memory_error():
    run = subprocess.run([sys.executable, "-c", OUT_OF_MEMORY], capture_output=True, text=True,
                         check=False)
    assert run.stdout == "MemoryError: out of memory\n", run.stderr


def test_import_without_the_compiled_module_says_what_to_do(tmp_path):
    shutil.copytree(ROOT / "python" / "kestrane", tmp_path / "kestrane")
    run = subprocess.run([sys.executable, "-c", "import kestrane"], cwd=tmp_path,
                         capture_output=True, text=True, check=False)
    assert run.returncode == 1
    assert "kestrane._kestrane" in run.stderr and "pip install ." in run.stderr


def test_the_version_is_the_one_of_the_programs():
    assert kestrane.__version__ == (ROOT / "VERSION").read_text().strip()
    try:
        assert importlib.metadata.version("kestrane") == kestrane.__version__
    except importlib.metadata.PackageNotFoundError:
        pass  # the build tree's package, not installed


@pytest.mark.parametrize("params, same_as_default", [
    ({"class_weight": None}, True),
    ({"class_weight": "balanced"}, False),
    ({"examples_per_round": 400}, False),
])
def test_class_sampling(iris, params, same_as_default):
    _, X, y = iris
    X, y = X[20:], y[20:]  # classes of 30, 50 and 50 rows
    default = kestrane.FuzzyClassifier(**FAST).fit(X, y)._model.text()
    assert (kestrane.FuzzyClassifier(**params, **FAST).fit(X, y)._model.text() == default) \
        == same_as_default


def test_defaults_resist_an_extreme_row_and_early_stopping_keeps_the_best(iris):
    _, X, y = iris
    X = X.copy()
    X[0] = X.max(axis=0) * 100  # one row in the wrong unit
    params = {"early_stopping": True, "n_iter_no_change": 3, "epochs": 2000}
    with pytest.warns(kestrane.KestraneWarning, match="4 training values outside the robust"):
        clf = kestrane.FuzzyClassifier(**params).fit(X, y)
    assert (clf.feature_ranges_[:, 1] < X[1:].max(axis=0) * 2).all()
    assert clf.n_iter_ < 2000
    assert clf.best_validation_score_ == clf.validation_scores_.max()
    assert clf.score(X[1:], y[1:]) > 0.9
    with pytest.warns(kestrane.KestraneWarning):
        again = kestrane.FuzzyClassifier(**params).fit(X, y)
    assert again._model.text() == clf._model.text()
    with pytest.warns(kestrane.KestraneWarning):
        assert kestrane.FuzzyClassifier(**FAST).fit(X, y).validation_scores_ is None


def test_an_estimator_saved_before_the_data_defaults_loads_as_it_was_fitted(iris, tmp_path):
    _, X, y = iris
    _, _, saved = kestrane.FuzzyClassifier(**FAST).fit(X, y).save(tmp_path / "old")
    text = json.loads(Path(saved).read_text())
    del text["params"]["scaling"], text["params"]["centres"]
    Path(saved).write_text(json.dumps(text))
    params = kestrane.load(tmp_path / "old").get_params()
    assert (params["scaling"], params["centres"]) == ("minmax", "even")


def test_fits_in_threads_equal_fits_one_after_another(iris):
    _, X, y = iris
    settings = [dict(random_state=s, n_rules=r, **FAST) for s, r in ((1, 6), (2, 9))]
    alone = [kestrane.FuzzyClassifier(**s).fit(X, y)._model.text() for s in settings]
    together = [None, None]

    def fit(i):
        together[i] = kestrane.FuzzyClassifier(**settings[i]).fit(X, y)._model.text()

    threads = [threading.Thread(target=fit, args=(i,)) for i in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert together == alone


def test_membership_plot_shows_each_function_in_feature_units(fitted):
    clf, frame, _ = fitted
    ax = kestrane.plot.membership(clf, "petal_length")
    lines = ax.get_lines()
    assert len(lines) == 3
    low, high = frame["petal_length"].min(), frame["petal_length"].max()
    for line in lines:
        x, degree = line.get_data()
        assert (x[0], x[-1]) == (low, high)
        assert degree.max() == pytest.approx(1.0, abs=0.01) and degree.min() >= 0.0
    # The first function is 1 at the low end, the last at the high end.
    assert lines[0].get_ydata()[0] == 1.0 and lines[-1].get_ydata()[-1] == 1.0
    assert ax.get_xlabel() == "petal_length"
    assert [t.get_text().split(" (")[0] for t in ax.get_legend().get_texts()] == \
        ["low", "medium", "high"]
    plt.close("all")


def test_rule_weight_plot_labels_and_shows_the_weights(fitted):
    clf, _, _ = fitted
    fig = kestrane.plot.rule_weights(clf)
    left, right = fig.axes[:2]
    to_rules = left.get_images()[0].get_array()
    to_actions = right.get_images()[0].get_array()
    # Rules by default: features + classes, as import suggests.
    assert to_rules.shape == (7, 12) and to_actions.shape == (7, 9)
    # Rows in the order and with the numbers of `rules --nodes`.
    order = [(r["rank"], r["node"]) for r in clf.rules()["rules"]]
    nodes = [node for _, node in order]
    assert [t.get_text() for t in left.get_yticklabels()] == \
        [f"rule {rank} (node {node})" for rank, node in order]
    np.testing.assert_array_equal(
        np.asarray(to_rules),
        np.reshape(clf._model.weight_layer(WeightLayer.RULE_WEIGHTS), (12, 7)).T[nodes])
    np.testing.assert_array_equal(
        np.asarray(to_actions),
        np.reshape(clf._model.weight_layer(WeightLayer.ACTION_WEIGHTS), (7, 9))[nodes])
    assert left.get_xticklabels()[3].get_text() == "sepal_width low"
    assert right.get_xticklabels()[-1].get_text() == "virginica high"
    plt.close("all")


def test_missing_values_are_kept_in_fit_and_predict(iris):
    header, X, y = iris
    holes = X.copy()
    holes[::4, 0] = np.nan
    holes[1::5, 2] = np.nan
    frame = pd.DataFrame(holes, columns=header[:-1])
    clf = kestrane.FuzzyClassifier(random_state=3, **FAST).fit(frame, y)
    assert np.isfinite(clf.feature_ranges_).all()
    proba = clf.predict_proba(frame)
    assert np.isfinite(proba).all()
    assert clf.score(frame, y) > 0.6
    blank = np.full((1, X.shape[1]), np.nan)
    assert np.isfinite(clf.decision_function(blank)).all()
    holes[0, 1] = np.inf
    with pytest.raises(ValueError, match="infinity"):
        clf.predict(holes)


def test_string_columns_nan_and_sparse_encoders_fit_in_pipelines(tmp_path):
    from sklearn.compose import ColumnTransformer
    from sklearn.model_selection import GridSearchCV
    from sklearn.pipeline import Pipeline
    from sklearn.preprocessing import OneHotEncoder

    rng = np.random.default_rng(0)
    n = 120
    colour = rng.choice(["red", "green", "blue"], n).astype(object)
    size = rng.normal(size=n) + (colour == "red") * 2.0
    y = np.where((colour == "red") | (size > 1.5), "yes", "no")
    colour[::9] = None
    size[::7] = np.nan
    frame = pd.DataFrame({"colour": colour, "size": size,
                          "legs": pd.Series(rng.choice([2, 4], n)).astype("category")})
    clf = kestrane.FuzzyClassifier(random_state=3, **FAST)
    search = GridSearchCV(Pipeline([("clf", clf)]), {"clf__n_rules": [4, 6]}, cv=3).fit(frame, y)
    fitted = search.best_estimator_.named_steps["clf"]
    assert fitted.categories_ == {"colour": ["blue", "green", "red"], "legs": ["2", "4"]}
    assert list(fitted.feature_names_in_[:3]) == ["colour=blue", "colour=green", "colour=red"]
    assert search.score(frame, y) > 0.7
    with pytest.warns(UserWarning, match="1 value is a category the fit did not see"):
        fitted.predict(frame.assign(colour=["pink"] + list(colour[1:])))
    # Saved and loaded, the categories come back and the rules read them as words.
    fitted.save(tmp_path / "m")
    loaded = kestrane.load(tmp_path / "m")
    assert loaded.categories_ == fitted.categories_
    assert (loaded.predict(frame) == fitted.predict(frame)).all()
    texts = [c["text"] for r in loaded.rules(frame, y)["vote_rules"]["rules"]
             for c in r["conditions"]]
    assert any(t.startswith("colour is ") for t in texts), texts
    assert loaded.explain(frame)["predicted"].shape == (n,)
    loaded.report(frame, y, tmp_path / "r.html")
    assert "colour is " in (tmp_path / "r.html").read_text(encoding="utf-8")
    assert kestrane.FuzzyClassifier(categorical_features=["size"], **FAST).fit(
        frame.assign(size=np.round(frame["size"])), y).categories_["size"][0] == "-2.0"

    encoded = Pipeline([
        ("onehot", ColumnTransformer([("c", OneHotEncoder(), ["colour", "legs"])],
                                     remainder="passthrough")),
        ("clf", kestrane.FuzzyClassifier(random_state=3, **FAST)),
    ]).fit(frame.fillna({"colour": "none"}), y)
    assert encoded.score(frame.fillna({"colour": "none"}), y) > 0.7


def test_learned_centres_move_in_order_and_plot_in_feature_units(iris):
    _, X, y = iris
    fixed = kestrane.FuzzyClassifier(centres="even", **FAST).fit(X, y)
    clf = kestrane.FuzzyClassifier(learn_centres=True, centres="even", **FAST).fit(X, y)
    even = fixed._model.weight_layer(WeightLayer.CONDITION_CENTRES)
    learned = np.reshape(clf._model.weight_layer(WeightLayer.CONDITION_CENTRES), (4, 3))
    assert np.array_equal(even, np.tile([0.0, 0.5, 1.0], 4))
    assert not np.array_equal(learned.ravel(), even)
    assert (learned[:, 0] == 0).all() and (learned[:, 2] == 1).all()
    assert (np.diff(learned, axis=1) > 0).all()
    assert clf.score(X, y) > 0.9
    low, high = clf.feature_ranges_[2]
    legend = [t.get_text() for t in kestrane.plot.membership(clf, 2).get_legend().get_texts()]
    assert legend[1] == f"medium (centre {low + learned[2, 1] * (high - low):.4g})"
    plt.close("all")
