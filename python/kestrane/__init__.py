"""Kestrane fuzzy neural network classifiers for scikit-learn.

    from kestrane import FuzzyClassifier
    clf = FuzzyClassifier(epochs=200, random_state=7).fit(X, y)
    clf.predict(X_new)

The estimator runs the library the ``Kestrane`` and ``kestrane-tool``
programs are built from; ``clf.save(prefix)`` writes files they read and
``kestrane.load(prefix)`` reads theirs. Plots live in ``kestrane.plot``
(imported with the package; matplotlib itself on first use).

What the library reports without failing (a warning, or a value the programs
print beside a failure) arrives as a ``KestraneWarning`` (a ``UserWarning``)
through the ``warnings`` module; nothing is written to standard output.
"""

try:
    from ._kestrane import KestraneWarning
except ImportError as missing:  # the sources alone, or a build without the module
    raise ImportError(
        f"kestrane's compiled module (kestrane._kestrane) cannot be imported from "
        f"{__path__[0]} ({missing}): install the package with `pip install .` from the "
        "source tree, or build it with CMake (-DKESTRANE_PYTHON=ON, which needs "
        "pybind11) and put the build's python/ folder on PYTHONPATH") from missing

from . import plot
from ._cv import FuzzyClassifierCV
from ._estimator import FuzzyClassifier, load
from ._version import __version__

__all__ = ["FuzzyClassifier", "FuzzyClassifierCV", "KestraneWarning", "__version__", "load", "plot"]
