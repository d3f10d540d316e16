"""Answers of a fitted FuzzyClassifier for Dask collections, partition by
partition on the workers (dask; ``pip install kestrane[dask]``).

    import kestrane.dask
    labels = kestrane.dask.predict(clf, ddf)            # a Dask Series
    p = kestrane.dask.predict(clf, ddf, "predict_proba")  # a Dask DataFrame

Each partition is answered by ``clf`` where it lies, so the rows never meet in
one process; the answers equal ``clf``'s on the same rows.
"""

import numpy as np
from sklearn.utils.validation import check_is_fitted

_METHODS = ("predict", "predict_proba", "predict_log_proba", "decision_function")


def predict(clf, data, method="predict"):
    """Apply ``clf.<method>`` to every partition of a Dask DataFrame or Array.

    Parameters
    ----------
    clf : FuzzyClassifier
        A fitted estimator; it travels to the workers pickled.
    data : dask.dataframe.DataFrame or dask.array.Array
        Rows of the fitted features: a DataFrame by column name (when fitted
        on named columns), an Array of shape (n_samples, n_features).
    method : {"predict", "predict_proba", "predict_log_proba", "decision_function"}
        The answer wanted.

    Returns
    -------
    answers : dask Series, DataFrame or Array
        Lazy, partitioned as ``data``: a Series (an Array of one dimension) of
        labels for "predict"; otherwise one column per class in the order of
        ``clf.classes_`` (one score per row for "decision_function" with two
        classes).

    Examples
    --------
    >>> import dask.dataframe as dd, pandas as pd
    >>> from sklearn.datasets import load_iris
    >>> from kestrane import FuzzyClassifier
    >>> import kestrane.dask
    >>> X, y = load_iris(return_X_y=True, as_frame=True)
    >>> clf = FuzzyClassifier(epochs=100).fit(X, y)
    >>> ddf = dd.from_pandas(X, npartitions=3)
    >>> bool((kestrane.dask.predict(clf, ddf).compute() == clf.predict(X)).all())
    True
    """
    if method not in _METHODS:
        raise ValueError(f"method must be one of {_METHODS}, got {method!r}")
    check_is_fitted(clf, "_model")
    answer = getattr(clf, method)
    one_score = method == "predict" or (method == "decision_function" and len(clf.classes_) == 2)
    if hasattr(data, "map_partitions"):  # a Dask DataFrame
        import pandas as pd

        if one_score:
            dtype = clf.classes_.dtype if method == "predict" else np.float64
            meta = pd.Series([], dtype=dtype, name=method)
            return data.map_partitions(
                lambda part: pd.Series(answer(part), index=part.index, name=method), meta=meta)
        columns = [str(c) for c in clf.classes_]
        meta = pd.DataFrame({c: pd.Series([], dtype=np.float64) for c in columns})
        return data.map_partitions(
            lambda part: pd.DataFrame(answer(part), index=part.index, columns=columns), meta=meta)
    if hasattr(data, "map_blocks"):  # a Dask Array: whole rows in every block
        rows = data.rechunk({1: -1})
        if one_score:
            dtype = clf.classes_.dtype if method == "predict" else np.float64
            return rows.map_blocks(answer, drop_axis=1, dtype=dtype)
        return rows.map_blocks(answer, chunks=(rows.chunks[0], (len(clf.classes_),)),
                               dtype=np.float64)
    raise TypeError(f"a Dask DataFrame or Array expected, got {type(data).__name__}")
