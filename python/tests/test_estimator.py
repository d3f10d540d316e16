"""FuzzyClassifier as a scikit-learn estimator: the library's own checks,
labels, probabilities, pickling, threads and plots."""

import pickle
import threading

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt
import numpy as np
import pandas as pd
import pytest
from sklearn.utils.estimator_checks import parametrize_with_checks

import kestrane
import kestrane.plot
from kestrane._layers import WeightLayer

FAST = {"epochs": 30, "change_after": 5}


@parametrize_with_checks([kestrane.FuzzyClassifier(epochs=100)])
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
])
def test_labels_of_any_kind_come_back_sorted(iris, labels):
    _, X, y = iris
    codes = np.unique(y, return_inverse=True)[1]
    clf = kestrane.FuzzyClassifier(**FAST).fit(X, labels[codes])
    np.testing.assert_array_equal(clf.classes_, np.sort(labels))
    assert set(clf.predict(X)) <= set(labels)
    assert clf.score(X, labels[codes]) > 0.6


def test_answers_agree_with_each_other(fitted):
    clf, frame, _ = fitted
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


def test_save_replaces_both_files_or_neither(fitted, tmp_path):
    clf, _, _ = fitted
    (tmp_path / "model.wgt").write_text("old")
    (tmp_path / "model.ranges").mkdir()  # cannot be replaced by a file
    with pytest.raises(OSError):
        clf.save(tmp_path / "model")
    assert (tmp_path / "model.wgt").read_text() == "old"
    assert sorted(p.name for p in tmp_path.iterdir()) == ["model.ranges", "model.wgt"]


@pytest.mark.parametrize("params, message", [
    ({"n_rules": 0}, "n_rules"),
    ({"input_mfs": 1}, "input_mfs"),
    ({"output_mfs": [3, 3]}, "^output_mfs: 2 numbers given"),
    ({"weight_range": (1, 0)}, "weight_range"),
    ({"epochs": 0}, "epochs"),
    ({"change_after": 1.5}, "change_after"),
    ({"random_state": -1}, "random_state"),
    ({"learning_rate": float("nan")}, "^learning_rate: nan"),
    ({"learning_rate": 1e39}, "^learning_rate: inf"),
    ({"learning_rate": -1}, "^learning_rate: -1 is negative"),
    ({"momentum": float("nan")}, "^momentum: nan"),
    ({"weight_range": (-float("inf"), float("inf"))}, "^weight_range: -inf,inf"),
    ({"weight_range": (-1e308, 1e308)}, "^weight_range: .* the width overflows"),
    ({"epochs": 300, "momentum": 1.1}, "^Training diverged: .* smaller learning_rate or momentum"),
    ({"class_weight": "proportional"}, "class_weight"),
    ({"class_weight": None, "examples_per_class": 3}, "examples_per_class"),
    ({"examples_per_round": 0}, "examples_per_round"),
    ({"class_weight": {"setosa": -1.0}}, "class_weight"),
])
def test_bad_settings_are_refused_at_fit(iris, params, message):
    _, X, y = iris
    with pytest.raises(ValueError, match=message):
        kestrane.FuzzyClassifier(**params).fit(X, y)


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


def test_string_columns_nan_and_sparse_encoders_fit_in_pipelines():
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
    assert kestrane.FuzzyClassifier(categorical_features=["size"], **FAST).fit(
        frame.assign(size=np.round(frame["size"])), y).categories_["size"][0] == "-2.0"

    encoded = Pipeline([
        ("onehot", ColumnTransformer([("c", OneHotEncoder(), ["colour", "legs"])],
                                     remainder="passthrough")),
        ("clf", kestrane.FuzzyClassifier(random_state=3, **FAST)),
    ]).fit(frame.fillna({"colour": "none"}), y)
    assert encoded.score(frame.fillna({"colour": "none"}), y) > 0.7
