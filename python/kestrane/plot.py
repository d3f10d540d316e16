"""Plots of a fitted FuzzyClassifier (matplotlib).

membership(clf, feature)  the membership functions of one feature, in the
                          feature's own units, named low / medium / high as
                          ``kestrane-tool rules`` names them
rule_weights(clf)         heat maps of the condition-to-rule and the
                          rule-to-action weights, one row per rule node,
                          numbered and ordered as ``kestrane-tool rules --nodes``
                          numbers them; wide models are split into panels

Figures use matplotlib's constrained layout, so saved files keep their
labels whole.
"""

import json

import numpy as np
from sklearn.utils.validation import check_is_fitted

from ._layers import WeightLayer

_GRID = 401
# Columns of one heat-map panel: more go to the next panel below.
_PANEL_COLUMNS = 36


def term_name(index, count):
    """The name ``kestrane-tool rules`` gives membership function `index` of
    `count`: low/high, low/medium/high, very low .. very high, else term k."""
    names = {2: ["low", "high"], 3: ["low", "medium", "high"],
             5: ["very low", "low", "medium", "high", "very high"]}
    return names[count][index] if count in names else f"term {index + 1}"


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
    feature; each function is named at its peak and in the legend below the
    axes.

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
        One line per membership function.

    Examples
    --------
    >>> import matplotlib
    >>> matplotlib.use("Agg")
    >>> from sklearn.datasets import load_iris
    >>> import kestrane
    >>> X, y = load_iris(return_X_y=True, as_frame=True)
    >>> clf = kestrane.FuzzyClassifier(epochs=50).fit(X, y)
    >>> kestrane.plot.membership(clf, "petal length (cm)").get_xlabel()
    'petal length (cm)'
    """
    import matplotlib.pyplot as plt

    check_is_fitted(clf, "_model")
    index = _feature_index(clf, feature)
    name, low, high = clf._model.ranges[index]
    if ax is None:
        _, ax = plt.subplots(layout="constrained")
    values = np.linspace(low, high, _GRID)
    # Inputs are scaled as fit scaled them; a constant feature sits at 0.5.
    scaled = (values - low) / (high - low) if high > low else np.full(_GRID, 0.5)
    degrees = clf._model.memberships(index, scaled.tolist())
    centres = _input_centres(clf, index)
    count = degrees.shape[1]
    for k in range(count):
        centre = low + centres[k] * (high - low)
        (line,) = ax.plot(values, degrees[:, k], label=f"{term_name(k, count)} (centre {centre:.4g})")
        ax.annotate(term_name(k, count), (centre, 1.0), xytext=(0, 3), textcoords="offset points",
                    ha="left" if k == 0 else "right" if k == count - 1 else "center",
                    color=line.get_color(), fontsize="small")
    ax.set_xlabel(name)
    ax.set_ylabel("membership")
    ax.set_ylim(-0.05, 1.15)
    ax.set_title(f"Membership functions of {name}")
    # Below the axes: the legend never covers the peaks.
    ax.legend(loc="upper center", bbox_to_anchor=(0.5, -0.15), ncol=min(count, 3),
              frameon=False, fontsize="small")
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
        labels += [f"{name} {term_name(k, count)}" for k in range(count)]
    return labels


def _action_labels(clf):
    shape = clf._model.structure()
    labels = []
    for cls, count in zip(clf.classes_, shape["output_mfs"]):
        labels += [f"{cls} {term_name(k, count)}" for k in range(count)]
    return labels


def _node_order(clf):
    """The rule nodes in the order ``rules --nodes`` prints them (by
    importance from the weights alone), as (rank, node) pairs."""
    text = clf._model.rules_json([str(c) for c in clf.classes_], 0.5, -1.0, -1, 5, 1)
    return [(rule["rank"], rule["node"]) for rule in json.loads(text)["rules"]]


def rule_weights(clf, fig=None):
    """Heat maps of the rule and action weights, labelled.

    The weights from the input membership functions to the rules, and from
    the rules to the output membership functions. One row per rule node,
    labelled "rule R (node N)" and ordered by R as ``kestrane-tool rules
    --nodes`` ranks them. The input functions go into panels of at most 36
    columns, one below the other, so that a wide model stays readable.

    Parameters
    ----------
    clf : FuzzyClassifier
        A fitted estimator.
    fig : matplotlib Figure, default=None
        Where to draw; a new figure sized to the network when None.

    Returns
    -------
    fig : matplotlib Figure
        The maps and a colour bar of the weights.

    Examples
    --------
    >>> import matplotlib
    >>> matplotlib.use("Agg")
    >>> from sklearn.datasets import load_iris
    >>> import kestrane
    >>> X, y = load_iris(return_X_y=True)
    >>> fig = kestrane.plot.rule_weights(kestrane.FuzzyClassifier(epochs=50).fit(X, y))
    >>> type(fig).__name__
    'Figure'
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
    order = _node_order(clf)
    nodes = [node for _, node in order]
    to_rules, to_actions = to_rules[nodes], to_actions[nodes]
    rule_labels = [f"rule {rank} (node {node})" for rank, node in order]

    panels = [(start, min(start + _PANEL_COLUMNS, len(conditions)))
              for start in range(0, len(conditions), _PANEL_COLUMNS)] or [(0, 0)]
    widest = max(hi - lo for lo, hi in panels)
    width = min(16.0, 3.0 + 0.28 * (widest + len(actions)))
    height = len(panels) * (1.5 + 0.25 * rules) + 1.0
    if fig is None:
        fig = plt.figure(figsize=(width, height), layout="constrained")
    grid = fig.add_gridspec(len(panels), 2, width_ratios=[max(widest, 1), max(len(actions), 1)])
    limit = max(np.abs(to_rules).max(initial=0), np.abs(to_actions).max(initial=0), 1e-12)
    axes = []
    for row, (lo, hi) in enumerate(panels):
        ax = fig.add_subplot(grid[row, 0])
        image = ax.imshow(to_rules[:, lo:hi], cmap="coolwarm", vmin=-limit, vmax=limit,
                          aspect="auto")
        ax.set_xticks(range(hi - lo), conditions[lo:hi], rotation=90)
        ax.set_yticks(range(rules), rule_labels)
        title = "input functions → rules"
        ax.set_title(title if len(panels) == 1 else f"{title} ({lo + 1}–{hi})")
        axes.append(ax)
    right = fig.add_subplot(grid[0, 1])
    right.imshow(to_actions, cmap="coolwarm", vmin=-limit, vmax=limit, aspect="auto")
    right.set_xticks(range(len(actions)), actions, rotation=90)
    right.set_yticks(range(rules), rule_labels)
    right.set_title("rules → output functions")
    axes.insert(1, right)
    fig.colorbar(image, ax=axes, label="weight", shrink=0.8 if len(panels) == 1 else 0.3)
    return fig
