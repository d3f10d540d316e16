"""Tables as the network takes them: a column of categories becomes one 0/1
input per category (named "column=category"), as kestrane-tool import does,
and sparse input is made dense."""

import warnings

import numpy as np


def dense(X):
    """X with a SciPy sparse matrix or a pandas sparse frame made dense."""
    if hasattr(X, "toarray") and hasattr(X, "nnz"):
        return X.toarray()
    sparse = getattr(X, "sparse", None)
    if sparse is not None and hasattr(sparse, "to_dense"):
        try:
            return sparse.to_dense()
        except AttributeError:  # a frame with dense columns too
            pass
    return X


def _frame(X):
    import pandas as pd
    if isinstance(X, pd.DataFrame):
        return X
    array = np.asarray(X, dtype=object)
    if array.ndim != 2:
        return None
    return pd.DataFrame(array, columns=[f"x{i}" for i in range(array.shape[1])])


def _sorted(texts):
    """Numbers by value when every category is a number, else by text."""
    try:
        values = [float(t) for t in texts]
    except ValueError:
        return sorted(texts)
    if not all(np.isfinite(values)):
        return sorted(texts)
    return [t for _, t in sorted(zip(values, texts), key=lambda p: (p[0], p[1]))]


def _holds_text(kind):
    """Object, category or string type (pandas 3 gives text columns the last)."""
    import pandas as pd
    return kind == object or isinstance(kind, (pd.CategoricalDtype, pd.StringDtype))


def learn_categories(X, categorical_features):
    """{column: [categories]}: the columns of object or category type and those
    named in categorical_features (names, or indices for an array)."""
    import pandas as pd
    named = [] if categorical_features is None else list(categorical_features)
    text_columns = isinstance(X, pd.DataFrame) and any(_holds_text(X[c].dtype) for c in X.columns)
    if not named and not text_columns:
        return {}
    frame = _frame(X)
    if frame is None:
        return {}
    columns = list(frame.columns)
    chosen = []
    for name in named:
        if name in columns:
            chosen.append(name)
        elif isinstance(name, (int, np.integer)) and 0 <= name < len(columns):
            chosen.append(columns[name])
        else:
            raise ValueError(f"categorical_features: {name!r} is not a column of X")
    for c in columns:
        kind = frame[c].dtype
        if c not in chosen and _holds_text(kind):
            chosen.append(c)
    categories = {}
    for c in columns:
        if c not in chosen:
            continue
        values = frame[c]
        present = values[~pd.isna(values)].map(str)
        if present.empty:
            raise ValueError(f"column {c!r} has no value in any row: drop the column")
        categories[c] = _sorted(list(present.unique()))
    return categories


def encode(X, categories):
    """X as the network's inputs: every column of `categories` as one 0/1 input
    per category, NaN where the value is missing or a category not seen in fit
    (counted in a warning); the other columns as numbers."""
    import pandas as pd
    frame = _frame(X)
    if frame is None:
        return X
    missing_columns = [c for c in categories if c not in frame.columns]
    if missing_columns:
        raise ValueError(f"X lacks the categorical columns {missing_columns!r}")
    parts = {}
    unseen = 0
    for c in frame.columns:
        values = frame[c]
        if c not in categories:
            parts[str(c)] = pd.to_numeric(values, errors="raise").astype(np.float64)
            continue
        absent = pd.isna(values).to_numpy()
        text = values.map(str).to_numpy()
        known = np.isin(text, categories[c]) | absent
        unseen += int((~known).sum())
        blank = absent | ~known
        for category in categories[c]:
            column = (text == category).astype(np.float64)
            column[blank] = np.nan
            parts[f"{c}={category}"] = column
    if unseen:
        what = "1 value is a category" if unseen == 1 else f"{unseen} values are categories"
        warnings.warn(f"{what} the fit did not see, taken as missing", UserWarning)
    return pd.DataFrame(parts, index=frame.index)


def input_categories(categories, feature_names):
    """(column, category) of every input that encode() made from `categories`,
    ("", "") for the others, in the order of `feature_names`."""
    made = {f"{c}={category}": (str(c), str(category))
            for c, listed in categories.items() for category in listed}
    return [made.get(name, ("", "")) for name in feature_names]


def categories_of_inputs(marks):
    """{column: [categories]} from a model's (column, category) per input:
    the categories_ of the estimator that fitted it."""
    categories = {}
    for mark in marks:
        if mark is not None:
            categories.setdefault(mark[0], []).append(mark[1])
    return categories
