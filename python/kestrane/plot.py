"""Plots of a fitted FuzzyClassifier (matplotlib).

membership(clf, feature)  the membership functions of one feature, in the
                          feature's own units
rule_weights(clf)         heat maps of the condition-to-rule and the
                          rule-to-action weights, labelled
"""

import numpy as np
from sklearn.utils.validation import check_is_fitted

from ._layers import WeightLayer

_GRID = 401


def _feature_index(clf, feature):
    names = [name for name, _, _ in clf._model.ranges]
    if isinstance(feature, str):
        if feature not in names:
            raise ValueError(f"no feature named {feature!r}; the features are {names}")
        return names.index(feature)
    index = int(feature)
    if not 0 <= index < len(names):
        raise ValueError(f"feature {feature!r} out of range: the model has {len(names)} features")
    return index


def membership(clf, feature, ax=None):
    """Plot the membership functions of one feature in the feature's units.

    The degrees come from the network itself, over the training range of the
    feature.

    Parameters
    ----------
    clf : FuzzyClassifier
        A fitted estimator.
    feature : int or str
        The feature's index or name.
    ax : matplotlib Axes, default=None
        Where to draw; a new figure's when None.

    Returns
    -------
    ax : matplotlib Axes
        One line per membership function, labelled with its centre.

    Examples
    --------
    >>> import matplotlib
    >>> matplotlib.use("Agg")
    >>> from sklearn.datasets import load_iris
    >>> import kestrane.plot
    >>> X, y = load_iris(return_X_y=True, as_frame=True)
    >>> clf = kestrane.FuzzyClassifier(epochs=50).fit(X, y)
    >>> len(kestrane.plot.membership(clf, "petal length (cm)").get_lines())
    3
    """
    import matplotlib.pyplot as plt

    check_is_fitted(clf, "_model")
    index = _feature_index(clf, feature)
    name, low, high = clf._model.ranges[index]
    if ax is None:
        _, ax = plt.subplots()
    values = np.linspace(low, high, _GRID)
    # Inputs are scaled as fit scaled them; a constant feature sits at 0.5.
    scaled = (values - low) / (high - low) if high > low else np.full(_GRID, 0.5)
    degrees = clf._model.memberships(index, scaled.tolist())
    centres = _input_centres(clf, index)
    for k in range(degrees.shape[1]):
        centre = low + centres[k] * (high - low)
        ax.plot(values, degrees[:, k], label=f"{name} {k} (centre {centre:.4g})")
    ax.set_xlabel(name)
    ax.set_ylabel("membership")
    ax.set_ylim(-0.05, 1.05)
    ax.set_title(f"Membership functions of {name}")
    ax.legend()
    return ax


def _input_centres(clf, index):
    shape = clf._model.structure()
    first = sum(shape["input_mfs"][:index])
    centres = clf._model.weight_layer(WeightLayer.CONDITION_CENTRES)
    return centres[first:first + shape["input_mfs"][index]]


def _condition_labels(clf):
    shape = clf._model.structure()
    labels = []
    for (name, _, _), count in zip(clf._model.ranges, shape["input_mfs"]):
        labels += [f"{name} {k}" for k in range(count)]
    return labels


def _action_labels(clf):
    shape = clf._model.structure()
    labels = []
    for cls, count in zip(clf.classes_, shape["output_mfs"]):
        labels += [f"{cls} {k}" for k in range(count)]
    return labels


def rule_weights(clf, fig=None):
    """Heat maps of the rule and action weights, labelled.

    The left map holds the weights from the input membership functions to
    the rules, the right one those from the rules to the output membership
    functions; one row per rule in both.

    Parameters
    ----------
    clf : FuzzyClassifier
        A fitted estimator.
    fig : matplotlib Figure, default=None
        Where to draw; a new figure sized to the network when None.

    Returns
    -------
    fig : matplotlib Figure
        The two maps and a colour bar of the weights.

    Examples
    --------
    >>> import matplotlib
    >>> matplotlib.use("Agg")
    >>> from sklearn.datasets import load_iris
    >>> import kestrane.plot
    >>> X, y = load_iris(return_X_y=True)
    >>> fig = kestrane.plot.rule_weights(kestrane.FuzzyClassifier(epochs=50).fit(X, y))
    >>> len(fig.axes)
    3
    """
    import matplotlib.pyplot as plt

    check_is_fitted(clf, "_model")
    shape = clf._model.structure()
    rules = shape["rules"]
    conditions = _condition_labels(clf)
    actions = _action_labels(clf)
    to_rules = np.asarray(clf._model.weight_layer(WeightLayer.RULE_WEIGHTS))
    to_rules = to_rules.reshape(len(conditions), rules).T
    to_actions = np.asarray(clf._model.weight_layer(WeightLayer.ACTION_WEIGHTS))
    to_actions = to_actions.reshape(rules, len(actions))
    if fig is None:
        fig = plt.figure(figsize=(4 + 0.3 * (len(conditions) + len(actions)), 2 + 0.25 * rules))
    left, right = fig.subplots(1, 2, gridspec_kw={"width_ratios": [len(conditions), len(actions)]})
    limit = max(np.abs(to_rules).max(), np.abs(to_actions).max(), 1e-12)
    rule_labels = [f"rule {r}" for r in range(rules)]
    for ax, weights, columns, title in (
            (left, to_rules, conditions, "input functions → rules"),
            (right, to_actions, actions, "rules → output functions")):
        image = ax.imshow(weights, cmap="coolwarm", vmin=-limit, vmax=limit, aspect="auto")
        ax.set_xticks(range(len(columns)), columns, rotation=90)
        ax.set_yticks(range(rules), rule_labels)
        ax.set_title(title)
    fig.colorbar(image, ax=[left, right], label="weight")
    return fig
