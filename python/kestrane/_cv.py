"""FuzzyClassifierCV: the settings tuned by the search of ``kestrane-tool cv --auto``."""

import numbers
import os
import sys
from typing import ClassVar

import numpy as np
from sklearn.base import BaseEstimator, ClassifierMixin
from sklearn.utils._param_validation import Interval
from sklearn.utils.multiclass import check_classification_targets
from sklearn.utils.validation import check_is_fitted, column_or_1d

from . import _kestrane, _tables
from ._estimator import _ALLOW_NAN, _DEFAULTS, FuzzyClassifier, _seed, _validate_data, _weight_range


def _jobs(n_jobs):
    """scikit-learn's convention: None is 1, -1 every processor, -2 all but one."""
    if n_jobs is None:
        return 1
    if n_jobs < 0:
        return max(1, (os.cpu_count() or 1) + 1 + n_jobs)
    return int(n_jobs)


def _report(verbose):
    def report(entry, fold, planned):
        print(f"combination {entry + 1} of {planned}, fold {fold + 1}", file=sys.stderr,
              flush=True)
    return report if verbose else None


class FuzzyClassifierCV(ClassifierMixin, BaseEstimator):
    """A FuzzyClassifier whose settings are tuned on the training rows.

    ``fit`` cross-validates a short list of settings (the same list as
    ``kestrane-tool cv --auto``, most promising first: rules, membership
    functions, learning rate, epochs and class sampling; see
    ``kestrane-tool cv --auto --help``), keeps the best mean accuracy (a tie
    goes to the smaller network, then to the earlier entry) and fits a
    ``FuzzyClassifier`` with it on all rows.

    The time budget: the first entry always runs and its time is the measure;
    the entries that follow run, in order, as long as their time predicted
    from it fits in ``time_budget``. Nothing is stopped once started, and the
    refit on all rows comes after. When every entry fits, the result depends
    on ``random_state`` alone; when the budget leaves entries out
    (``budget_cut_``), how many ran depends on the machine's speed, and
    ``max_combinations=len(cv_results_["params"])`` repeats the search exactly.

    Parameters
    ----------
    time_budget : float or None, default=300
        Seconds of the search; None or 0: no limit.
    cv : int, default=3
        Stratified folds, 2 or more.
    max_combinations : int or None, default=None
        At most the first this many entries of the list.
    n_jobs : int or None, default=None
        Fold trainings at once, on threads (None: 1, -1: every processor);
        the results do not depend on it.
    random_state : int, RandomState or None, default=1
        Seeds the folds, the initial weights and the training.
    weight_range : (float, float), default=(-0.5, 0.5)
        Range of the random initial weights, as for FuzzyClassifier.
    categorical_features : list or None
        As for FuzzyClassifier.
    verbose : int, default=0
        Above 0: a line on standard error as folds start.

    Attributes
    ----------
    best_params_ : dict
        The winner's parameters of FuzzyClassifier (``n_rules``, ``input_mfs``,
        ``learning_rate``, ``epochs``, ``class_weight``).
    best_score_ : float
        Its mean cross-validated accuracy (0 to 1).
    best_index_ : int
        Its index in ``cv_results_``.
    best_estimator_ : FuzzyClassifier
        Fitted on all rows with ``best_params_``.
    cv_results_ : dict of arrays
        Per entry that ran, as scikit-learn's searches give them: ``params``,
        ``split<k>_test_score``, ``mean_test_score``, ``std_test_score`` (NaN
        where a training diverged) and ``rank_test_score``.
    budget_cut_ : bool
        Whether the time budget left entries out.
    classes_, n_features_in_, feature_names_in_
        Those of ``best_estimator_``.

    Examples
    --------
    >>> from sklearn.datasets import load_iris
    >>> from kestrane import FuzzyClassifierCV
    >>> X, y = load_iris(return_X_y=True)
    >>> search = FuzzyClassifierCV(max_combinations=2).fit(X, y)
    >>> sorted(search.best_params_)
    ['class_weight', 'epochs', 'input_mfs', 'learning_rate', 'n_rules']
    """

    _parameter_constraints: ClassVar[dict] = {
        "time_budget": [Interval(numbers.Real, 0, None, closed="left"), None],
        "cv": [Interval(numbers.Integral, 2, None, closed="left")],
        "max_combinations": [Interval(numbers.Integral, 1, None, closed="left"), None],
        "n_jobs": [numbers.Integral, None],
        "random_state": ["random_state"],
        "weight_range": ["array-like"],
        "categorical_features": ["array-like", None],
        "verbose": ["verbose"],
    }

    def __init__(self, time_budget=_DEFAULTS["time_budget"], cv=_DEFAULTS["cv"],
                 max_combinations=None, n_jobs=None, random_state=_DEFAULTS["random_state"],
                 weight_range=_DEFAULTS["weight_range"], categorical_features=None, verbose=0):
        self.time_budget = time_budget
        self.cv = cv
        self.max_combinations = max_combinations
        self.n_jobs = n_jobs
        self.random_state = random_state
        self.weight_range = weight_range
        self.categorical_features = categorical_features
        self.verbose = verbose

    def fit(self, X, y):
        """Search the list on X and y, then fit the winner on all rows.

        Returns
        -------
        self : FuzzyClassifierCV
        """
        self._validate_params()
        weight_min, weight_max = _weight_range(self.weight_range)
        if self.n_jobs == 0:
            raise ValueError("n_jobs == 0 has no meaning")
        seed = _seed(self.random_state)
        X_in, y_in = X, y
        X = _tables.dense(X)
        categories = _tables.learn_categories(X, self.categorical_features)
        if categories:
            X = _tables.encode(X, categories)
        X, y = _validate_data(self, X, y, dtype=np.float64, y_numeric=False,
                              **_ALLOW_NAN)
        y = column_or_1d(y, warn=True)
        check_classification_targets(y)
        text_of = {c: str(c) for c in np.unique(y)}
        if len(set(text_of.values())) != len(text_of):
            raise ValueError("two classes have the same text: " + repr(list(text_of)))
        found = _kestrane.auto_search(
            X, [text_of[v] for v in y], [f"x{i}" for i in range(X.shape[1])], int(self.cv),
            seed, _jobs(self.n_jobs), float(self.time_budget or 0.0),
            int(self.max_combinations or 0), weight_min, weight_max, _report(self.verbose))

        params, means, deviations, splits = [], [], [], []
        for point in found["points"]:
            params.append({"n_rules": point["n_rules"], "input_mfs": point["input_mfs"],
                           "learning_rate": point["learning_rate"], "epochs": point["epochs"],
                           "class_weight": "balanced" if point["balanced"] else None})
            means.append(point["mean"] / 100.0)
            deviations.append(point["deviation"] / 100.0)
            splits.append(np.array(point["percent"]) / 100.0)
        means = np.array(means)
        results = {"params": params}
        for k in range(int(self.cv)):
            results[f"split{k}_test_score"] = np.array([s[k] for s in splits])
        results["mean_test_score"] = means
        results["std_test_score"] = np.array(deviations)
        # Rank 1 is the one picked (a tie went to the smaller network); a
        # diverged entry ranks last.
        best = int(found["best"])
        order = np.argsort(-np.nan_to_num(means, nan=-np.inf), kind="stable")
        order = [best] + [int(i) for i in order if i != best]
        ranks = np.empty(len(means), dtype=np.int32)
        ranks[order] = np.arange(1, len(means) + 1)
        results["rank_test_score"] = ranks

        self.cv_results_ = results
        self.best_index_ = best
        self.best_params_ = params[best]
        self.best_score_ = float(means[best])
        self.budget_cut_ = bool(found["cut"])
        self.best_estimator_ = FuzzyClassifier(
            **self.best_params_, weight_range=self.weight_range, random_state=seed,
            categorical_features=self.categorical_features, verbose=self.verbose).fit(X_in, y_in)
        self.classes_ = self.best_estimator_.classes_
        self.n_features_in_ = self.best_estimator_.n_features_in_
        self.__dict__.pop("feature_names_in_", None)
        if hasattr(self.best_estimator_, "feature_names_in_"):
            self.feature_names_in_ = self.best_estimator_.feature_names_in_
        return self

    def predict(self, X):
        """The best estimator's classes for the rows of X."""
        check_is_fitted(self, "best_estimator_")
        return self.best_estimator_.predict(X)

    def predict_proba(self, X):
        """The best estimator's normalised class outputs."""
        check_is_fitted(self, "best_estimator_")
        return self.best_estimator_.predict_proba(X)

    def decision_function(self, X):
        """The best estimator's raw class outputs."""
        check_is_fitted(self, "best_estimator_")
        return self.best_estimator_.decision_function(X)

    def _more_tags(self):
        return {"requires_y": True, "allow_nan": True}

    def __sklearn_tags__(self):
        tags = super().__sklearn_tags__()
        tags.target_tags.required = True
        tags.input_tags.allow_nan = True
        return tags
