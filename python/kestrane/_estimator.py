"""FuzzyClassifier: the Kestrane fit pipeline as a scikit-learn estimator."""

import json
import numbers
import os
import tempfile

import numpy as np
from sklearn.base import BaseEstimator, ClassifierMixin
from sklearn.utils import check_random_state
from sklearn.utils.multiclass import check_classification_targets
from sklearn.utils.validation import check_is_fitted, column_or_1d

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


def _counts(value, name):
    """An int for every input (output), or a sequence of one per input."""
    if isinstance(value, numbers.Integral) and not isinstance(value, bool):
        counts = [int(value)]
    else:
        try:
            counts = [int(v) for v in value]
        except (TypeError, ValueError):
            raise ValueError(f"{name} must be an integer or a sequence of integers, got {value!r}")
    if not counts or any(c < 2 for c in counts):
        raise ValueError(f"{name} must be at least 2, got {value!r}")
    return counts


def _positive_int(value, name, minimum=1):
    if not isinstance(value, numbers.Integral) or isinstance(value, bool) or value < minimum:
        raise ValueError(f"{name} must be an integer of at least {minimum}, got {value!r}")
    return int(value)


def _sampling(class_weight):
    """The class sampling of a class_weight: "balanced", None or a dict."""
    if isinstance(class_weight, str) and class_weight == "balanced":
        return _kestrane.ClassSampling.balanced
    if class_weight is None or isinstance(class_weight, dict):
        return _kestrane.ClassSampling.proportional
    raise ValueError(f"class_weight must be 'balanced', None or a dict, got {class_weight!r}")


def _weighted_examples(y, classes, weights, per_round):
    """Rows per class and round for a class_weight dict: in proportion to the
    class's rows times its weight (1 for a class not named), at least one, over
    as many rows as class_weight=None draws."""
    counts = np.array([np.sum(y == c) for c in classes], dtype=np.float64)
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
        if not 0 <= random_state < 2**32:
            raise ValueError(f"random_state must be in [0, 2**32), got {random_state!r}")
        return int(random_state)
    return int(check_random_state(random_state).randint(np.iinfo(np.int32).max))


class FuzzyClassifier(ClassifierMixin, BaseEstimator):
    """A fuzzy neural network classifier trained by class-balanced bootstrap.

    ``fit`` does what ``kestrane-tool import`` (no hold-out), ``kestrane-tool
    create --seed`` and a ``Kestrane`` run with ``Seed`` do, in memory and with
    the same code: min-max scaling fitted on X, one class table per class
    (classes sorted), the sized network with its initial weights, then
    bootstrap training. Same data, settings and seed give the same network,
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
        Range of the random initial rule and action weights.
    epochs : int, default=500
        Epoch budget of the whole training.
    change_after : int, default=10
        Epochs trained on one drawn sample before the next is drawn.
    learning_rate, momentum : float, default=0.1, 0.5
        Of backpropagation (single precision, as the parameter file reads them).
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

    Attributes
    ----------
    categories_ : dict
        The categories of every categorical column, in input order; empty
        when there is none.
    classes_ : ndarray
        The class labels in output order (sorted).
    n_features_in_ : int
    feature_names_in_ : ndarray of str
        Only when X had string column names (a DataFrame).
    feature_ranges_ : ndarray of shape (n_features_in_, 2)
        The minimum and maximum of every feature in the training data, which
        scale the inputs into [0, 1]; values outside are clipped.
    training_error_ : float
        The error of the last training epoch (what ``Kestrane`` prints).
    """

    def __init__(self, n_rules=None, input_mfs=_DEFAULTS["input_mfs"],
                 output_mfs=_DEFAULTS["output_mfs"], weight_range=_DEFAULTS["weight_range"],
                 epochs=_DEFAULTS["epochs"], change_after=_DEFAULTS["change_after"],
                 learning_rate=_DEFAULTS["learning_rate"], momentum=_DEFAULTS["momentum"],
                 batch=_DEFAULTS["batch"], examples_per_class=None,
                 random_state=_DEFAULTS["random_state"], class_weight=None,
                 examples_per_round=None, categorical_features=None):
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

    # ---- fitting

    def fit(self, X, y):
        """Fit the scaling, build the network and train it on X and y."""
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
        n_rules = (_kestrane.starter_rule_count(X.shape[1], n_classes) if self.n_rules is None
                   else _positive_int(self.n_rules, "n_rules"))
        input_mfs = _counts(self.input_mfs, "input_mfs")
        output_mfs = _counts(self.output_mfs, "output_mfs")
        try:
            weight_min, weight_max = (float(v) for v in self.weight_range)
        except (TypeError, ValueError):
            raise ValueError(f"weight_range must be a pair of numbers, got {self.weight_range!r}")
        if not weight_min <= weight_max:
            raise ValueError(f"weight_range: the minimum exceeds the maximum in {self.weight_range!r}")
        if self.examples_per_class is None:
            examples = []
        else:
            examples = [_positive_int(self.examples_per_class, "examples_per_class", 0)] * n_classes
        sampling = _sampling(self.class_weight)
        if examples and sampling != _kestrane.ClassSampling.balanced:
            raise ValueError("examples_per_class needs class_weight='balanced'; "
                             "use examples_per_round to size proportional rounds")
        per_round = (0 if self.examples_per_round is None
                     else _positive_int(self.examples_per_round, "examples_per_round"))
        if isinstance(self.class_weight, dict):
            examples = _weighted_examples(y, classes, self.class_weight, per_round)

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
        settings.epochs = _positive_int(self.epochs, "epochs")
        settings.change_after = _positive_int(self.change_after, "change_after")
        settings.learning_rate = float(self.learning_rate)
        settings.momentum = float(self.momentum)
        settings.batch = bool(self.batch)
        settings.seed = shape.seed
        class_column = class_column if isinstance(class_column, str) else "class"
        model = _kestrane.fit(X, [text_of[v] for v in y], self._feature_names(X.shape[1]),
                              class_column, shape, settings)
        label_of = {text: c for c, text in text_of.items()}
        self.classes_ = np.array([label_of[name] for name in model.classes], dtype=classes.dtype)
        self.class_column_ = class_column
        self._set_model(model)
        self.training_error_ = model.error
        return self

    def _feature_names(self, n_features):
        if hasattr(self, "feature_names_in_"):
            return [str(n) for n in self.feature_names_in_]
        return [f"x{i}" for i in range(n_features)]

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
        """The class of the largest output of every row (the first on a tie)."""
        predicted = self._recall(X)[1]
        return self.classes_[predicted]

    def decision_function(self, X):
        """The raw class outputs of the network, shape (n_samples, n_classes).

        With two classes scikit-learn expects one score per row: then it is
        ``p[:, 1] - p[:, 0]`` of ``predict_proba``, positive for ``classes_[1]``.
        """
        outputs = self._recall(X)[0]
        if len(self.classes_) == 2:
            p = _probabilities(outputs)
            return p[:, 1] - p[:, 0]
        return outputs

    def predict_proba(self, X):
        """The class outputs clipped at 0 and normalised to sum 1 per row.

        The network's outputs are centre-of-gravity values, not probabilities;
        this only rescales them. A row whose outputs are all at or below 0
        shares the probability among the classes tied at its largest output.
        """
        return _probabilities(self._recall(X)[0])

    def predict_log_proba(self, X):
        with np.errstate(divide="ignore"):
            return np.log(self.predict_proba(X))

    # ---- rules

    def rules(self, X=None, y=None, top=None, min_weight=None, min_weight_share=0.5):
        """The rule base, as ``kestrane-tool rules --json`` reports it, as
        Python objects (dicts and lists), with the fitted feature and class names.

        Every rule lists its conditions ("feature is term", the term's centre
        in the feature's units) and conclusions, strongest first; rules come
        in order of importance. Given labelled rows X, y, the report adds how
        each rule fires on them, the accuracy, the fidelity and the
        permutation importance of every feature. `top` keeps the most
        important rules; `min_weight` lists arcs with at least that absolute
        weight instead of those with at least `min_weight_share` of the
        rule's largest.
        """
        check_is_fitted(self, "_model")
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
        text = self._model.rules_json(
            [str(c) for c in self.classes_], float(min_weight_share),
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
        X = _validate_data(self, X, dtype=np.float64, reset=False)
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
        X = _validate_data(self, X, dtype=np.float64, reset=False)
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
        """Write PREFIX.wgt (the network file) and PREFIX.ranges (the scaling
        and the classes, as kestrane-tool import writes them); both or neither.
        Returns the two file names."""
        check_is_fitted(self, "_model")
        prefix = os.fspath(prefix)
        texts = {prefix + NETWORK_SUFFIX: self._model.text(), prefix + RANGES_SUFFIX: self._ranges_text()}
        _write_together(texts)
        return tuple(texts)

    def _ranges_text(self):
        names, mins, maxs = zip(*self._model.ranges)
        class_column = getattr(self, "class_column_", "class")
        return _kestrane.ranges_text(class_column, list(names), list(mins), list(maxs),
                                     [str(c) for c in self.classes_])

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

    def _more_tags(self):
        return {"requires_y": True, "allow_nan": True}

    def __sklearn_tags__(self):
        tags = super().__sklearn_tags__()
        tags.input_tags.allow_nan = True
        return tags


def _probabilities(outputs):
    clipped = np.clip(outputs, 0.0, None)
    total = clipped.sum(axis=1, keepdims=True)
    dead = total[:, 0] <= 0.0
    if dead.any():
        top = outputs[dead] == outputs[dead].max(axis=1, keepdims=True)
        clipped[dead] = top
        total[dead] = top.sum(axis=1, keepdims=True)
    return clipped / total


def _write_together(texts):
    """Writes every file under a temporary name beside it, then renames them
    into place; when a rename fails, the files already replaced get their old
    contents back. So a failure leaves every old file as it was."""
    pending = []
    backups = []
    try:
        for name, text in texts.items():
            if os.path.isdir(name):
                raise IsADirectoryError(f"cannot replace the folder {name} by a file")
            fd, temporary = tempfile.mkstemp(prefix=".kestrane-", dir=_folder(name))
            pending.append((temporary, name))
            with os.fdopen(fd, "w", encoding="utf-8", newline="") as out:
                out.write(text)
                out.flush()
                os.fsync(out.fileno())
            os.chmod(temporary, 0o666 & ~_umask())
        for temporary, name in pending:
            backup = None
            if os.path.exists(name):
                backup = tempfile.mktemp(prefix=".kestrane-old-", dir=_folder(name))
                os.link(name, backup)
            backups.append((backup, name))
            os.replace(temporary, name)
        pending = []
    except BaseException:
        for backup, name in backups:
            if backup is not None:
                os.replace(backup, name)
            elif os.path.exists(name):
                os.unlink(name)
        backups = []
        raise
    finally:
        for temporary, _ in pending:
            if os.path.exists(temporary):
                os.unlink(temporary)
        for backup, _ in backups:
            if backup is not None and os.path.exists(backup):
                os.unlink(backup)


def _folder(name):
    return os.path.dirname(os.path.abspath(name))


def _umask():
    mask = os.umask(0)
    os.umask(mask)
    return mask


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


def load(prefix):
    """A fitted FuzzyClassifier from PREFIX.wgt and PREFIX.ranges (written by
    ``save`` or by the programs: a trained network and the ranges file of its
    import). The fit parameters that the files do not record keep their defaults."""
    prefix = os.fspath(prefix)
    with open(prefix + NETWORK_SUFFIX, encoding="utf-8", newline="") as f:
        network_text = f.read()
    with open(prefix + RANGES_SUFFIX, encoding="utf-8", newline="") as f:
        class_column, features, classes = _kestrane.parse_ranges(f.read())
    names, mins, maxs = (list(v) for v in zip(*features)) if features else ([], [], [])
    model = _kestrane.Model.from_text(network_text, names, mins, maxs)
    if model.outputs != len(classes):
        raise ValueError(f"{prefix}{RANGES_SUFFIX} names {len(classes)} classes, "
                         f"the network has {model.outputs} outputs")
    shape = model.structure()
    clf = FuzzyClassifier(n_rules=shape["rules"], input_mfs=_one_or_all(shape["input_mfs"]),
                          output_mfs=_one_or_all(shape["output_mfs"]))
    clf.classes_ = _class_labels(classes)
    clf.n_features_in_ = len(names)
    if names != [f"x{i}" for i in range(len(names))]:
        clf.feature_names_in_ = np.array(names, dtype=object)
    clf.class_column_ = class_column
    clf._set_model(model)
    return clf


def _one_or_all(counts):
    return counts[0] if len(set(counts)) == 1 else tuple(counts)
