"""Kestrane fuzzy neural network classifiers for scikit-learn.

    from kestrane import FuzzyClassifier
    clf = FuzzyClassifier(epochs=200, random_state=7).fit(X, y)
    clf.predict(X_new)

The estimator runs the library the ``Kestrane`` and ``kestrane-tool``
programs are built from; ``clf.save(prefix)`` writes files they read and
``kestrane.load(prefix)`` reads theirs. Plots live in ``kestrane.plot``
(matplotlib, imported on first use).
"""

from ._estimator import FuzzyClassifier, load

__all__ = ["FuzzyClassifier", "load"]
