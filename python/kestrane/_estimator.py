"""FuzzyClassifier: the Kestrane fit pipeline as a scikit-learn estimator."""

import errno
import json
import numbers
import os
import sys
import time
from typing import ClassVar

import numpy as np
from sklearn.base import BaseEstimator, ClassifierMixin
from sklearn.utils import check_random_state
from sklearn.utils._param_validation import Interval, InvalidParameterError, StrOptions
from sklearn.utils.multiclass import check_classification_targets
from sklearn.utils.validation import _check_sample_weight, check_is_fitted, column_or_1d

from . import _kestrane, _tables

# A missing value (NaN) is kept: the network gives it degree 0 in every
# membership function of its input, in training and in recall alike.
try:  # scikit-learn >= 1.6
    from sklearn.utils.validation import validate_data as _validate_data
    _ALLOW_NAN = {"ensure_all_finite": "allow-nan"}
except ImportError:  # older releases: a method of BaseEstimator
    _ALLOW_NAN = {"force_all_finite": "allow-nan"}

    def _validate_data(estimator, *args, **kwargs):
        return estimator._validate_data(*args, **kwargs)


# The defaults of the programs' tool, from the library's one table of them.
_DEFAULTS = _kestrane.defaults()

NETWORK_SUFFIX = ".wgt"
RANGES_SUFFIX = ".ranges"
# What the files of the programs do not hold: the fit parameters and the
# labels' type. The programs never read it.
ESTIMATOR_SUFFIX = ".estimator.json"
_ESTIMATOR_FORMAT = "kestrane-estimator 1"

# Counts and sizes reach the library as 32-bit integers.
_INT_MAX = 2**31 - 1
# The rows a fit's draws choose among, sample weights counted as copies.
_MAX_COPIES = 10**8

def _invalid(name, requirement, value):
    return InvalidParameterError(
        f"The {name!r} parameter of FuzzyClassifier must be {requirement}. Got {value!r} instead.")


def _counts(value, name):
    """An int for every input (output), or a sequence of one per input."""
    if isinstance(value, numbers.Integral) and not isinstance(value, bool):
        return [int(value)]
    counts = list(value)
    if not counts or not all(isinstance(c, numbers.Integral) and not isinstance(c, bool)
                             and 2 <= c <= _INT_MAX for c in counts):
        raise _invalid(name, f"an int or a sequence of ints in the range [2, {_INT_MAX}]", value)
    return [int(c) for c in counts]


def _weight_range(value):
    try:
        low, high = (float(v) for v in value)
    except (TypeError, ValueError):
        low, high = np.nan, np.nan
    if not (np.isfinite(low) and np.isfinite(high) and low < high):
        raise _invalid("weight_range", "a pair of finite numbers (low, high) with low < high",
                       value)
    return low, high


def _sampling(class_weight):
    """The class sampling of a class_weight: "balanced", None or a dict."""
    if isinstance(class_weight, str) and class_weight == "balanced":
        return _kestrane.ClassSampling.balanced
    if class_weight is None or isinstance(class_weight, dict):
        return _kestrane.ClassSampling.proportional
    raise ValueError(f"class_weight must be 'balanced', None or a dict, got {class_weight!r}")


def _weighted_examples(rows, classes, weights, per_round):
    """Rows per class and round for a class_weight dict: in proportion to the
    class's rows (sample weights counted) times its weight (1 for a class not
    named), at least one, over as many rows as class_weight=None draws."""
    counts = np.array(rows, dtype=np.float64)
    w = np.array([float(weights.get(c, 1.0)) for c in classes])
    if not np.all(np.isfinite(w)) or np.any(w < 0) or not np.any(w > 0):
        raise ValueError(f"class_weight: weights must be finite, not negative and not all 0, "
                         f"got {weights!r}")
    total = per_round or int(min(counts.sum(), 3 * counts.min() * len(classes)))
    share = counts * w
    # In the order the pipeline gives the classes (numbers by value, else text).
    rows = np.maximum(1, np.rint(total * share / share.sum())).astype(int)
    by_text = {str(c): int(r) for c, r in zip(classes, rows)}
    return [by_text[t] for t in _kestrane.sorted_class_names(list(by_text))]


def _seed(random_state):
    """The 32-bit seed of create --seed and the Seed of a run."""
    if isinstance(random_state, numbers.Integral) and not isinstance(random_state, bool):
        return int(random_state)
    return int(check_random_state(random_state).randint(np.iinfo(np.int32).max))


def _row_copies(sample_weight, y, classes):
    """Sample weights as the number of copies of every row that the draws
    choose among: whole-number weights as they are, others scaled so that the
    smallest positive weight is one copy, then rounded (at least one copy)."""
    w = sample_weight
    if not np.isfinite(w).all() or (w < 0).any():
        raise ValueError("sample_weight must hold finite numbers of at least 0")
    if np.array_equal(w, np.floor(w)):
        copies = w
    else:
        smallest = w[w > 0].min() if (w > 0).any() else 1.0
        copies = np.where(w > 0, np.maximum(np.rint(w / smallest), 1.0), 0.0)
    if copies.sum() > _MAX_COPIES:
        raise ValueError(f"sample_weight: the weights count as {copies.sum():.0f} rows to draw "
                         f"from, more than {_MAX_COPIES}; scale them down")
    for c in classes:
        if copies[y == c].sum() == 0:
            raise ValueError(f"sample_weight: class {c!r} has no row of positive weight")
    return copies.astype(np.int32)


def _report(verbose):
    """The progress line of every report of a fit, to standard error."""
    def report(epoch, epochs, error, seconds):
        print(f"epoch {epoch}/{epochs}  error {error:.6g}  {seconds:.1f} s", file=sys.stderr,
              flush=True)
    return report if verbose else None


class FuzzyClassifier(ClassifierMixin, BaseEstimator):
    """A fuzzy neural network classifier trained by class-balanced bootstrap.

    ``fit`` does what ``kestrane-tool import`` (no hold-out), ``kestrane-tool
    create --seed --centres quantile --data <import's class files>`` and a
    ``Kestrane`` run with ``Seed`` do, in memory and with the same code: the
    scaling fitted on X, one class table per class (classes sorted), the sized
    network with its initial weights and centres, then bootstrap training. Same data, settings and seed give the same network,
    bit for bit.

    Parameters
    ----------
    n_rules : int or None, default=None
        Rules of the network; None takes the count import suggests (features +
        classes, at most 100 unless there are more classes).
    input_mfs, output_mfs : int or sequence of int, default=3
        Membership functions per input (per output, that is per class); one
        number for all or one per input (output). At least 2.
    weight_range : (float, float), default=(-0.5, 0.5)
        Range of the random initial rule and action weights; low < high.
    epochs : int, default=500
        Epoch budget of the whole training.
    change_after : int, default=10
        Epochs trained on one drawn sample before the next is drawn.
    learning_rate : float, default=0.1
        Of backpropagation, above 0 (single precision, as the parameter file
        reads it).
    momentum : float, default=0.5
        Of backpropagation, in [0, 1).
    batch : bool, default=False
        Batch instead of on-line training.
    examples_per_class : int or None, default=None
        Rows drawn from every class in every round; None takes the size of the
        smallest class. Balanced sampling only.
    class_weight : "balanced", None or dict, default=None
        How a round's rows are shared among the classes, after scikit-learn's
        convention: None weighs every row alike, so each class gives rows in
        proportion to its size, at least one (``import --sampling
        proportional``); "balanced" draws the same count from every class (what
        the programs do by default; ``import --sampling balanced``); a dict
        {class: weight} draws in proportion to rows times weight (1 for a class
        not named), over as many rows as None draws. The
        default follows bench/accuracy: on its nine sets None came within 2
        points of the best scikit-learn baseline on 6 (balanced: 5), gained up
        to 15.7 points and lost at most 0.8.
    examples_per_round : int or None, default=None
        Rows drawn in every round over all classes, shared as class_weight
        says; a class asked for more rows than it has gives all of them and the
        rest drawn with replacement (``import --examples``). None: with
        "balanced" the smallest class's size from every class, with None all
        the rows or three balanced rounds' worth, whichever is fewer.
    random_state : int, RandomState or None, default=1
        Seeds the initial weights and the training draws (a 32-bit integer is
        used as given; anything else draws one).
    categorical_features : list of column names (or indices) or None
        Columns taken as categories even though they hold numbers. Columns of
        a DataFrame of object or category type always are. Each category
        becomes one 0/1 input "column=category"; a missing value (NaN, None)
        counts as missing in all of them, and so does a category that fit did
        not see (with a warning). Missing values elsewhere (NaN) are kept: the
        network gives them degree 0 in every membership function of their
        input. Sparse input is made dense.
    scaling : {"robust", "minmax"}, default="robust"
        How each feature's range, which scales it into [0, 1], is fitted:
        "minmax" from its smallest to its largest value; "robust" from its 5th
        to its 95th percentile widened by that width on each side (never beyond
        the values), so that a few extreme rows are clipped (with one warning
        that counts them) instead of squeezing the other rows together
        (``import --scaling``).
    centres : {"even", "quantile"}, default="quantile"
        Where each input's membership functions are centred: evenly over the
        scaled range, or at the quantiles of the training values (0, 1/(m-1),
        ..., 1 for m functions), so that each covers about as many rows; an
        input whose quantiles nearly coincide keeps even centres (``create
        --centres quantile``).
    early_stopping : bool, default=False
        Hold out ``validation_fraction`` of every class's rows, score the
        network on them (accuracy) after every round of ``change_after``
        epochs, keep the best network seen and stop once
        ``n_iter_no_change`` rounds in a row improved the best score by less
        than ``tol``. Reproducible from ``random_state``.
    validation_fraction : float, default=0.1
        The held-out share of early stopping, in (0, 1).
    n_iter_no_change : int, default=10
        Rounds without an improvement of at least ``tol`` that end an early-stopped fit.
    tol : float, default=1e-4
        The improvement of the validation accuracy that counts.
    learn_centres : bool, default=False
        Training also moves the inner centres of the input membership
        functions (``LearnCentres = true`` in a parameter file, ``import
        --learn-centres``), with the weights' momentum at a hundredth of their
        learning rate; the first and last centre of every input stay at the
        ends of its range and the others keep their order. False: all stay
        where the network was created.
    verbose : int, default=0
        Above 0: a progress line on standard error (epoch, error, seconds
        since the start) about every second of training, and one at the end.

    Attributes
    ----------
    categories_ : dict
        The categories of every categorical column, in input order; empty
        when there is none. ``save`` keeps them in the ranges file, so a
        loaded model has them too (as does one of ``kestrane-tool import``).
    classes_ : ndarray
        The class labels in output order (sorted).
    n_features_in_ : int
        The number of features seen in fit.
    feature_names_in_ : ndarray of str
        Only when X had string column names (a DataFrame).
    feature_ranges_ : ndarray of shape (n_features_in_, 2)
        The range of every feature fitted on the training data (see
        ``scaling``), which scales the inputs into [0, 1]; values outside are clipped.
    n_rules_ : int
        The rules of the network (``n_rules``, or the count chosen for None).
    n_iter_ : int
        Epochs trained (a round is never cut short, so up to
        ``change_after - 1`` more than ``epochs``).
    loss_curve_ : ndarray of shape (n_iter_,)
        The error of every epoch, on the sample drawn for its round.
    training_error_ : float
        The error of the last training epoch (what ``Kestrane`` prints).
    validation_scores_ : ndarray or None
        With early stopping, the validation accuracy after every round; else None.
    best_validation_score_ : float or None
        With early stopping, the accuracy of the network kept; else None.

    Notes
    -----
    Ctrl-C during ``fit`` raises ``KeyboardInterrupt`` within about a fifth
    of a second of training and leaves the estimator unfitted.

    Examples
    --------
    >>> from sklearn.datasets import load_iris
    >>> from kestrane import FuzzyClassifier
    >>> X, y = load_iris(return_X_y=True)
    >>> clf = FuzzyClassifier(epochs=200, random_state=7).fit(X, y)
    >>> clf.n_rules_, clf.n_iter_
    (7, 200)
    >>> clf.predict(X[:3])
    array([0, 0, 0])
    """

    _parameter_constraints: ClassVar[dict] = {
        "n_rules": [Interval(numbers.Integral, 1, _INT_MAX, closed="both"), None],
        "input_mfs": [Interval(numbers.Integral, 2, _INT_MAX, closed="both"), "array-like"],
        "output_mfs": [Interval(numbers.Integral, 2, _INT_MAX, closed="both"), "array-like"],
        "weight_range": ["array-like"],
        "epochs": [Interval(numbers.Integral, 1, _INT_MAX, closed="both")],
        "change_after": [Interval(numbers.Integral, 1, _INT_MAX, closed="both")],
        "learning_rate": [Interval(numbers.Real, 0, None, closed="neither")],
        "momentum": [Interval(numbers.Real, 0, 1, closed="left")],
        "batch": ["boolean"],
        "examples_per_class": [Interval(numbers.Integral, 1, _INT_MAX, closed="both"), None],
        "random_state": ["random_state"],
        "class_weight": [StrOptions({"balanced"}), dict, None],
        "examples_per_round": [Interval(numbers.Integral, 1, _INT_MAX, closed="both"), None],
        "categorical_features": ["array-like", None],
        "scaling": [StrOptions({"minmax", "robust"})],
        "centres": [StrOptions({"even", "quantile"})],
        "early_stopping": ["boolean"],
        "validation_fraction": [Interval(numbers.Real, 0, 1, closed="neither")],
        "n_iter_no_change": [Interval(numbers.Integral, 1, _INT_MAX, closed="both")],
        "tol": [Interval(numbers.Real, 0, None, closed="left")],
        "verbose": ["verbose"],
        "learn_centres": ["boolean"],
    }

    def __init__(self, n_rules=None, input_mfs=_DEFAULTS["input_mfs"],
                 output_mfs=_DEFAULTS["output_mfs"], weight_range=_DEFAULTS["weight_range"],
                 epochs=_DEFAULTS["epochs"], change_after=_DEFAULTS["change_after"],
                 learning_rate=_DEFAULTS["learning_rate"], momentum=_DEFAULTS["momentum"],
                 batch=_DEFAULTS["batch"], examples_per_class=None,
                 random_state=_DEFAULTS["random_state"], class_weight=None,
                 examples_per_round=None, categorical_features=None,
                 scaling=_DEFAULTS["scaling"], centres=_DEFAULTS["centres"],
                 early_stopping=False, validation_fraction=0.1, n_iter_no_change=10, tol=1e-4,
                 verbose=0, learn_centres=_DEFAULTS["learn_centres"]):
        self.n_rules = n_rules
        self.input_mfs = input_mfs
        self.output_mfs = output_mfs
        self.weight_range = weight_range
        self.epochs = epochs
        self.change_after = change_after
        self.learning_rate = learning_rate
        self.momentum = momentum
        self.batch = batch
        self.examples_per_class = examples_per_class
        self.random_state = random_state
        self.class_weight = class_weight
        self.examples_per_round = examples_per_round
        self.categorical_features = categorical_features
        self.scaling = scaling
        self.centres = centres
        self.early_stopping = early_stopping
        self.validation_fraction = validation_fraction
        self.n_iter_no_change = n_iter_no_change
        self.tol = tol
        self.verbose = verbose
        self.learn_centres = learn_centres

    # ---- fitting

    def fit(self, X, y, sample_weight=None):
        """Fit the scaling, build the network and train it on X and y.

        Parameters
        ----------
        X : array-like of shape (n_samples, n_features)
            Feature values (NaN kept as missing); a DataFrame's column names become the
            feature names (those the saved files and the rule report use).
        y : array-like of shape (n_samples,)
            Class labels: numbers, strings or booleans; at least two classes.
        sample_weight : array-like of shape (n_samples,), default=None
            Weights of the rows, at least 0. A weight counts as copies of its
            row in the draws of every round: a row of weight 3 is drawn as
            three copies of it would be, one of weight 0 is left out (of the
            scaling too). Whole-number weights give exactly the fit of the
            rows repeated that often; other weights are first scaled so that
            the smallest positive weight is 1, then rounded. Within a class,
            rows are drawn in proportion to their weight; a class counts as
            its total weight wherever its size counts (its share of a round
            under class_weight=None or a dict, the smallest class's count under
            "balanced").

        Returns
        -------
        self : FuzzyClassifier
            The fitted estimator.

        Examples
        --------
        >>> import numpy as np
        >>> from kestrane import FuzzyClassifier
        >>> X = np.array([[0.0], [0.2], [0.8], [1.0]])
        >>> clf = FuzzyClassifier(epochs=50).fit(X, ["a", "a", "b", "b"])
        >>> clf.classes_, clf.loss_curve_.shape
        (array(['a', 'b'], dtype='<U1'), (50,))
        """
        self._validate_params()
        input_mfs = _counts(self.input_mfs, "input_mfs")
        output_mfs = _counts(self.output_mfs, "output_mfs")
        weight_min, weight_max = _weight_range(self.weight_range)
        self._forget_fit()
        try:
            return self._fit(X, y, sample_weight, input_mfs, output_mfs, weight_min, weight_max)
        except BaseException:
            # An interrupted or failed fit leaves no half-fitted estimator.
            self._forget_fit()
            raise

    def _fit(self, X, y, sample_weight, input_mfs, output_mfs, weight_min, weight_max):
        class_column = getattr(y, "name", None)
        X = _tables.dense(X)
        self.categories_ = _tables.learn_categories(X, self.categorical_features)
        if self.categories_:
            X = _tables.encode(X, self.categories_)
        X, y = _validate_data(self, X, y, dtype=np.float64, y_numeric=False, **_ALLOW_NAN)
        y = column_or_1d(y, warn=True)
        check_classification_targets(y)
        classes = np.unique(y)
        if len(classes) < 2:
            raise ValueError(
                f"{type(self).__name__} needs samples of at least 2 classes in the data, "
                f"but the data contains only one class: {classes[0]!r}")
        n_classes = len(classes)
        copies = np.ones(len(y), dtype=np.int64)
        if sample_weight is not None:
            sample_weight = _check_sample_weight(sample_weight, X, dtype=np.float64)
            copies = _row_copies(sample_weight, y, classes)
        smallest = min(copies[y == c].sum() for c in classes)
        n_rules = (_kestrane.starter_rule_count(X.shape[1], n_classes) if self.n_rules is None
                   else int(self.n_rules))
        examples = [] if self.examples_per_class is None else \
            [int(self.examples_per_class)] * n_classes
        sampling = _sampling(self.class_weight)
        if examples and sampling != _kestrane.ClassSampling.balanced:
            raise _invalid("examples_per_class", "None unless class_weight='balanced' (use "
                           "examples_per_round to size proportional rounds)",
                           self.examples_per_class)
        if examples and examples[0] > smallest:
            raise _invalid("examples_per_class",
                           f"at most the {smallest} rows of the smallest class",
                           self.examples_per_class)
        per_round = 0 if self.examples_per_round is None else int(self.examples_per_round)
        if isinstance(self.class_weight, dict):
            rows = [copies[y == c].sum() for c in classes]
            examples = _weighted_examples(rows, classes, self.class_weight, per_round)

        # The labels go to the pipeline as text; it decides their order (numbers
        # by value, else text), the same order the programs give the classes.
        text_of = {c: str(c) for c in classes}
        if len(set(text_of.values())) != n_classes:
            raise ValueError("two classes have the same text: " + repr(list(classes)))
        shape = _kestrane.NetworkShape()
        shape.rules = n_rules
        shape.input_mfs = input_mfs
        shape.output_mfs = output_mfs
        shape.weight_min = weight_min
        shape.weight_max = weight_max
        shape.seed = _seed(self.random_state)
        settings = _kestrane.TrainSettings()
        settings.examples = examples
        settings.sampling = sampling
        settings.examples_per_round = per_round
        settings.epochs = int(self.epochs)
        settings.change_after = int(self.change_after)
        settings.learning_rate = float(self.learning_rate)
        settings.momentum = float(self.momentum)
        settings.batch = bool(self.batch)
        settings.learn_centres = bool(self.learn_centres)
        settings.seed = shape.seed
        settings.scaling = getattr(_kestrane.RangeFit, self.scaling)
        settings.centres = getattr(_kestrane.CentrePlacement, self.centres)
        if self.early_stopping:
            settings.validation_fraction = float(self.validation_fraction)
            settings.rounds_no_change = int(self.n_iter_no_change)
            settings.tolerance = float(self.tol)
        scores = [] if self.early_stopping else None
        class_column = class_column if isinstance(class_column, str) else "class"
        started = time.perf_counter()
        model, errors = _kestrane.fit(
            X, [text_of[v] for v in y], self._feature_names(X.shape[1]), class_column, shape,
            settings, row_copies=[] if sample_weight is None else copies.tolist(),
            report=_report(self.verbose), report_every=1.0, validation_scores=scores)
        label_of = {text: c for c, text in text_of.items()}
        self.classes_ = np.array([label_of[name] for name in model.classes], dtype=classes.dtype)
        self.class_column_ = class_column
        self._set_model(model)
        self._mark_categories()
        self.n_rules_ = n_rules
        self.loss_curve_ = errors
        self.n_iter_ = len(errors)
        self.training_error_ = model.error
        self.validation_scores_ = None if scores is None else np.array(scores)
        self.best_validation_score_ = max(scores) if scores else None
        if self.verbose:
            _report(True)(self.n_iter_, int(self.epochs), model.error,
                          time.perf_counter() - started)
        return self

    def _forget_fit(self):
        for name in [n for n in vars(self) if n.endswith("_") and not n.startswith("__")]:
            delattr(self, name)
        self.__dict__.pop("_model", None)

    def _feature_names(self, n_features):
        if hasattr(self, "feature_names_in_"):
            return [str(n) for n in self.feature_names_in_]
        return [f"x{i}" for i in range(n_features)]

    def _mark_categories(self):
        """Tell the model which inputs are categories, so that its rules read
        "column is category" and its saved ranges file keeps the categories."""
        categories = getattr(self, "categories_", None)
        if categories:
            self._model.mark_categories(
                _tables.input_categories(categories, self._feature_names(self._model.inputs)))

    def _set_model(self, model):
        self._model = model
        self.feature_ranges_ = np.array([(lo, hi) for _, lo, hi in model.ranges], dtype=np.float64)

    # ---- answers

    def _recall(self, X):
        check_is_fitted(self, "_model")
        X = _validate_data(self, self._inputs(X), dtype=np.float64, reset=False, **_ALLOW_NAN)
        return self._model.recall(X)

    def _inputs(self, X):
        X = _tables.dense(X)
        categories = getattr(self, "categories_", None)
        return _tables.encode(X, categories) if categories else X

    def predict(self, X):
        """The class of the largest output of every row (the first on a tie).

        Parameters
        ----------
        X : array-like of shape (n_samples, n_features)
            Rows to classify, scaled by the fitted ranges (values outside are
            clipped).

        Returns
        -------
        y : ndarray of shape (n_samples,)
            A label of ``classes_`` for every row.

        Examples
        --------
        >>> from sklearn.datasets import load_iris
        >>> from kestrane import FuzzyClassifier
        >>> X, y = load_iris(return_X_y=True)
        >>> clf = FuzzyClassifier(epochs=200, random_state=7).fit(X, y)
        >>> clf.predict(X[[0, 50, 100]])
        array([0, 1, 2])
        """
        predicted = self._recall(X)[1]
        return self.classes_[predicted]

    def decision_function(self, X):
        """The raw class outputs of the network.

        With two classes scikit-learn expects one score per row: then it is
        ``p[:, 1] - p[:, 0]`` of ``predict_proba``, positive for ``classes_[1]``.

        Parameters
        ----------
        X : array-like of shape (n_samples, n_features)
            Rows to score.

        Returns
        -------
        scores : ndarray of shape (n_samples, n_classes), or (n_samples,) for two classes
            The centre-of-gravity output of every class.

        Examples
        --------
        >>> from kestrane import FuzzyClassifier
        >>> clf = FuzzyClassifier(epochs=50).fit([[0.0], [0.1], [0.9], [1.0]], [0, 0, 1, 1])
        >>> clf.decision_function([[0.0], [1.0]]).shape
        (2,)
        """
        outputs = self._recall(X)[0]
        if len(self.classes_) == 2:
            p = _probabilities(outputs)
            return p[:, 1] - p[:, 0]
        return outputs

    def predict_proba(self, X):
        """The class outputs clipped at 0 and normalised to sum 1 per row.

        The network's outputs are centre-of-gravity values, not probabilities;
        this only rescales them (wrap the estimator in scikit-learn's
        ``CalibratedClassifierCV`` for calibrated ones). A row whose outputs are
        all at or below 0 shares the probability among the classes tied at its
        largest output.

        Parameters
        ----------
        X : array-like of shape (n_samples, n_features)
            Rows to score.

        Returns
        -------
        p : ndarray of shape (n_samples, n_classes)
            Rows summing to 1, columns in the order of ``classes_``.

        Examples
        --------
        >>> import numpy as np
        >>> from sklearn.datasets import load_iris
        >>> from kestrane import FuzzyClassifier
        >>> X, y = load_iris(return_X_y=True)
        >>> p = FuzzyClassifier(epochs=200).fit(X, y).predict_proba(X)
        >>> p.shape, bool(np.allclose(p.sum(axis=1), 1.0))
        ((150, 3), True)
        """
        return _probabilities(self._recall(X)[0])

    def predict_log_proba(self, X):
        """The logarithm of ``predict_proba`` (-inf where it is 0).

        Parameters
        ----------
        X : array-like of shape (n_samples, n_features)
            Rows to score.

        Returns
        -------
        log_p : ndarray of shape (n_samples, n_classes)
            ``log(predict_proba(X))``.
        """
        with np.errstate(divide="ignore"):
            return np.log(self.predict_proba(X))

    # ---- rules

    def rules(self, X=None, y=None, top=None, min_weight=None, min_weight_share=0.5):
        """The rule base, as ``kestrane-tool rules --json`` reports it.

        Every rule lists its conditions ("feature is term", the term's centre
        in the feature's units) and conclusions, strongest first; rules come
        in order of importance.

        Parameters
        ----------
        X, y : array-like, default=None
            Labelled rows: the report adds how each rule fires on them, the
            accuracy, the fidelity and the permutation importance of every
            feature.
        top : int, default=None
            Keep the most important rules only.
        min_weight : float, default=None
            List the arcs with at least this absolute weight ...
        min_weight_share : float, default=0.5
            ... instead of those with at least this share of the rule's largest.

        Returns
        -------
        report : dict
            The JSON document of ``kestrane-tool rules --json`` as dicts and
            lists, with the fitted feature and class names.

        Examples
        --------
        >>> from kestrane import FuzzyClassifier
        >>> clf = FuzzyClassifier(epochs=50).fit([[0.0], [0.1], [0.9], [1.0]], [0, 0, 1, 1])
        >>> len(clf.rules(top=1)["rules"])
        1
        """
        check_is_fitted(self, "_model")
        if top is not None and not (isinstance(top, numbers.Integral) and 0 <= top <= _INT_MAX):
            raise ValueError(f"top must be an integer in [0, {_INT_MAX}], got {top!r}")
        rows = {}
        if X is not None:
            X = _validate_data(self, self._inputs(X), dtype=np.float64, reset=False,
                               **_ALLOW_NAN)
            y = column_or_1d(y)
            lookup = {c: k for k, c in enumerate(self.classes_)}
            try:
                rows["class_index"] = np.array([lookup[v] for v in y], dtype=np.int32)
            except KeyError as unknown:
                raise ValueError(f"class {unknown.args[0]!r} is not one of the fitted classes")
            rows["X"] = X
        # The model's class names are the labels' texts (fit and load make them so).
        text = self._model.rules_json(
            [], float(min_weight_share),
            -1.0 if min_weight is None else float(min_weight), -1 if top is None else int(top),
            5, 1, **rows)
        return json.loads(text)

    def explain(self, X, top=5):
        """Why every row of X got its class, in numbers that add up.

        Returns a dict of NumPy arrays over the n rows (R rules, A output
        membership functions, O classes, C input membership functions):

        - ``predicted`` (n,) the class labels; ``outputs`` (n, O) the network's outputs
        - ``firing`` (n, R) each rule's firing degree; ``rule_net``/``rule_base`` its
          net input and the part the layers below the conditions add
        - ``contributions`` (n, R, A) firing x weight: rule r's term of output
          function k's net input; ``base``, ``net``, ``activation`` (n, A)
        - ``votes`` (n, R, O) each rule's signed vote per class: the sum over the
          class's functions of (centre - mean centre) x contribution; with
          ``vote_base`` it sums to ``margins`` (n, O) up to rounding
        - ``scaled`` (n, features) and ``degrees`` (n, C) the inputs on the
          network's scale and every membership degree
        - ``strongest``: per row, the `top` rules with the largest |vote| for the
          answer, each with its conditions (feature, term, degree, weight,
          weight x degree) from the terms the row reaches

        Exact: ``base[:, k] + sum(contributions[i, r, k] for r in range(R))``,
        summed in rule order as Python's ``sum`` does, equals ``net[i, k]`` to the
        last bit, and the sigmoid of ``net`` is ``activation``. ``np.sum`` adds
        pairwise and agrees to rounding only. See docs/explain.md.
        """
        check_is_fitted(self, "_model")
        X = _validate_data(self, self._inputs(X), dtype=np.float64, reset=False, **_ALLOW_NAN)
        out = self._model.explain(X, int(top))
        out["predicted"] = self.classes_[out["predicted"]]
        out["classes"] = list(self.classes_)
        return out

    def report(self, X, y, path, title="Kestrane report"):
        """Write one self-contained HTML page about the model and the labelled
        rows X, y to `path`, as ``kestrane-tool report`` does: the membership
        functions in the features' units, the rules with their votes and the
        rule nodes with their weights as bars, the confusion matrix, the
        permutation importance and a few rows explained. Returns the path."""
        check_is_fitted(self, "_model")
        X = _validate_data(self, self._inputs(X), dtype=np.float64, reset=False, **_ALLOW_NAN)
        y = column_or_1d(y)
        lookup = {c: k for k, c in enumerate(self.classes_)}
        try:
            class_index = np.array([lookup[v] for v in y], dtype=np.int32)
        except KeyError as unknown:
            raise ValueError(f"class {unknown.args[0]!r} is not one of the fitted classes")
        page = self._model.report_html([str(c) for c in self.classes_], X, class_index, str(title))
        with open(path, "w", encoding="utf-8") as out:
            out.write(page)
        return path

    # ---- files

    def save(self, prefix):
        """Write the files of the programs, and the fit parameters beside them.

        PREFIX.wgt is the network file, PREFIX.ranges the scaling and the
        classes as ``kestrane-tool import`` writes them, and
        PREFIX.estimator.json the fit parameters and the labels' type, which
        the programs do not read. The library's own safe save writes them:
        all three or none, an existing file's mode kept, a symlink followed,
        a device written through, no temporary file left behind.

        Parameters
        ----------
        prefix : str or path-like
            The files' common name; not empty, not a folder.

        Returns
        -------
        files : tuple of str
            The names of the three files.

        Examples
        --------
        >>> import tempfile, os, kestrane
        >>> clf = kestrane.FuzzyClassifier(epochs=50).fit([[0.0], [1.0]] * 2, [0, 1] * 2)
        >>> folder = tempfile.mkdtemp()
        >>> [os.path.basename(f) for f in clf.save(os.path.join(folder, "m"))]
        ['m.wgt', 'm.ranges', 'm.estimator.json']
        """
        check_is_fitted(self, "_model")
        prefix = os.fspath(prefix)
        self._model.save(os.fsencode(prefix), [(ESTIMATOR_SUFFIX, self._estimator_text())])
        return tuple(prefix + suffix for suffix in (NETWORK_SUFFIX, RANGES_SUFFIX,
                                                    ESTIMATOR_SUFFIX))

    def _estimator_text(self):
        params = {}
        for name, value in self.get_params(deep=False).items():
            value = _jsonable(value)
            if value is not _UNSTORED:
                params[name] = value
        classes = _jsonable(self.classes_)
        return json.dumps({"format": _ESTIMATOR_FORMAT, "params": params,
                           "classes": None if classes is _UNSTORED else classes,
                           "classes_dtype": self.classes_.dtype.str}, indent=1) + "\n"

    # ---- pickling: the network travels as its file text

    def __getstate__(self):
        state = dict(super().__getstate__())  # may be the instance dict itself
        model = state.pop("_model", None)
        if model is not None:
            state["_network_text"] = model.text()
            state["_ranges"] = model.ranges
        return state

    def __setstate__(self, state):
        state = dict(state)
        text = state.pop("_network_text", None)
        ranges = state.pop("_ranges", None)
        super().__setstate__(state)
        if text is not None:
            names, mins, maxs = (list(v) for v in zip(*ranges))
            self._model = _kestrane.Model.from_text(text, names, mins, maxs)
            self._mark_categories()

    # ---- scikit-learn's tags, in the form of each release

    def _more_tags(self):
        return {"requires_y": True, "allow_nan": True, "_xfail_checks": _XFAIL_CHECKS}

    def __sklearn_tags__(self):
        tags = super().__sklearn_tags__()
        tags.target_tags.required = True
        tags.input_tags.allow_nan = True
        tags.input_tags.sparse = True  # made dense
        return tags


_UNSTORED = object()

# The checks of scikit-learn that this estimator fails by design (scikit-learn
# 1.6 and later take them as parametrize_with_checks(expected_failed_checks=)).
_ORDER = ("the rounds draw rows by their position, so the same rows in another order "
          "train another network")
_XFAIL_CHECKS = {
    "check_sample_weights_invariance": _ORDER,  # up to 1.5
    "check_sample_weight_equivalence_on_dense_data": _ORDER,
    "check_sample_weight_equivalence_on_sparse_data": _ORDER,
}


def _jsonable(value):
    """Plain JSON values for a parameter or the labels, or _UNSTORED."""
    if isinstance(value, dict):  # class_weight: its keys may be labels of any type
        items = _jsonable([[k, v] for k, v in value.items()])
        return _UNSTORED if items is _UNSTORED else {"items": items}
    if isinstance(value, np.ndarray):
        value = value.tolist()
    if isinstance(value, np.generic):
        value = value.item()
    if isinstance(value, (list, tuple)):
        items = [_jsonable(v) for v in value]
        return _UNSTORED if any(v is _UNSTORED for v in items) else items
    if value is None or isinstance(value, (bool, int, str)):
        return value
    if isinstance(value, float) and np.isfinite(value):
        return value
    return _UNSTORED


def _probabilities(outputs):
    clipped = np.clip(outputs, 0.0, None)
    total = clipped.sum(axis=1, keepdims=True)
    dead = total[:, 0] <= 0.0
    if dead.any():
        top = outputs[dead] == outputs[dead].max(axis=1, keepdims=True)
        clipped[dead] = top
        total[dead] = top.sum(axis=1, keepdims=True)
    return clipped / total


def _class_labels(names):
    """Class names of a ranges file: integers when every name is one as
    Python writes it, so that a model fitted on integer labels loads with them."""
    try:
        ints = [int(n) for n in names]
    except ValueError:
        return np.array(names, dtype=object)
    if [str(i) for i in ints] != list(names):
        return np.array(names, dtype=object)
    return np.array(ints, dtype=np.int64)


def _saved_estimator(text, names):
    """The fit parameters and labels of an estimator file, when it matches
    the classes of the ranges file."""
    try:
        saved = json.loads(text)
        if saved.get("format") != _ESTIMATOR_FORMAT:
            raise ValueError("not a kestrane estimator file")
        params = dict(saved["params"])
        labels = None
        if saved.get("classes") is not None:
            dtype = np.dtype(saved["classes_dtype"])
            labels = np.array(saved["classes"], dtype=object if dtype.kind == "O" else dtype)
            if [str(c) for c in labels] != list(names):
                labels = None
    except (ValueError, KeyError, TypeError, AttributeError) as bad:
        raise ValueError(f"malformed estimator file: {bad}") from None
    for name in ("weight_range",):
        if isinstance(params.get(name), list):
            params[name] = tuple(params[name])
    if isinstance(params.get("class_weight"), dict):
        params["class_weight"] = {k: v for k, v in params["class_weight"]["items"]}
    # Files saved before these parameters existed were fitted this way; a
    # refit of the loaded estimator must not change it.
    params.setdefault("scaling", "minmax")
    params.setdefault("centres", "even")
    return params, labels


def load(prefix):
    """A fitted FuzzyClassifier from the files of ``save`` or of the programs.

    Reads PREFIX.wgt (a trained network) and PREFIX.ranges (the ranges file
    of its import) as the programs read them, and PREFIX.estimator.json when
    it is there (``save`` writes it): then the fit parameters and the labels'
    type (bool, int, float or str) come back as they were fitted. Without it
    the parameters the network does not show keep their defaults, and the
    labels are integers when every class name is one, else strings.

    Parameters
    ----------
    prefix : str or path-like
        The files' common name.

    Returns
    -------
    clf : FuzzyClassifier
        A fitted estimator that answers as the saved one did.

    Examples
    --------
    >>> import tempfile, os, kestrane
    >>> clf = kestrane.FuzzyClassifier(epochs=50).fit([[0.0], [1.0]] * 2, [True, False] * 2)
    >>> prefix = os.path.join(tempfile.mkdtemp(), "m")
    >>> _ = clf.save(prefix)
    >>> kestrane.load(prefix).classes_
    array([False,  True])
    """
    prefix = os.fspath(prefix)
    for suffix in (NETWORK_SUFFIX, RANGES_SUFFIX):
        if not os.path.exists(prefix + suffix):
            raise FileNotFoundError(errno.ENOENT, "No such file", prefix + suffix)
    model, beside = _kestrane.Model.load(os.fsencode(prefix), [ESTIMATOR_SUFFIX])
    names = model.classes
    shape = model.structure()
    params = {"n_rules": shape["rules"], "input_mfs": _one_or_all(shape["input_mfs"]),
              "output_mfs": _one_or_all(shape["output_mfs"])}
    labels = None
    if ESTIMATOR_SUFFIX in beside:
        saved, labels = _saved_estimator(beside[ESTIMATOR_SUFFIX], names)
        params.update(saved)
    known = FuzzyClassifier().get_params()
    clf = FuzzyClassifier(**{k: v for k, v in params.items() if k in known})
    clf.classes_ = _class_labels(names) if labels is None else labels
    features = [name for name, _, _ in model.ranges]
    clf.n_features_in_ = len(features)
    if features != [f"x{i}" for i in range(len(features))]:
        clf.feature_names_in_ = np.array(features, dtype=object)
    clf.class_column_ = model.class_column
    clf.n_rules_ = shape["rules"]
    clf.categories_ = _tables.categories_of_inputs(model.categories)
    clf._set_model(model)
    return clf


def _one_or_all(counts):
    return counts[0] if len(set(counts)) == 1 else tuple(counts)
