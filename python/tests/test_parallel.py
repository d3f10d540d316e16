"""Model selection gives one answer however it is spread: one process, two
worker processes of joblib, or two workers of a Dask cluster."""

import joblib
import numpy as np
import pytest
from sklearn.model_selection import GridSearchCV, StratifiedKFold

import kestrane

GRID = {"n_rules": [6, 12], "learning_rate": [0.1, 0.3]}


def search(X, y, n_jobs):
    estimator = kestrane.FuzzyClassifier(epochs=20, change_after=5, random_state=4)
    cv = StratifiedKFold(n_splits=3, shuffle=True, random_state=0)
    return GridSearchCV(estimator, GRID, cv=cv, n_jobs=n_jobs).fit(X, y)


def outcome(result):
    """Everything but the timings."""
    kept = {k: v for k, v in result.cv_results_.items() if "time" not in k}
    return kept, result.best_params_, result.best_estimator_._model.text()


def assert_same(a, b):
    (results_a, best_a, network_a), (results_b, best_b, network_b) = outcome(a), outcome(b)
    assert best_a == best_b
    assert network_a == network_b
    assert results_a.keys() == results_b.keys()
    for key in results_a:
        np.testing.assert_array_equal(results_a[key], results_b[key], err_msg=key)


@pytest.fixture(scope="module")
def sequential(iris):
    _, X, y = iris
    return search(X, y, n_jobs=1)


def test_two_joblib_workers_find_what_one_process_finds(iris, sequential):
    _, X, y = iris
    assert_same(search(X, y, n_jobs=2), sequential)


@pytest.fixture(scope="module")
def cluster():
    """Two worker processes on the loopback interface, and a client of them."""
    distributed = pytest.importorskip("distributed")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, host="127.0.0.1",
                                  dashboard_address=None, processes=True) as cluster, \
            distributed.Client(cluster) as client:
        yield client


def test_a_dask_cluster_finds_what_one_process_finds(iris, sequential, cluster):
    import distributed

    _, X, y = iris
    with joblib.parallel_backend("dask"), distributed.get_task_stream() as tasks:
        result = search(X, y, n_jobs=-1)
    workers = {task["worker"] for task in tasks.data}
    assert len(workers) == 2  # the fits ran on the cluster, on both workers
    assert_same(result, sequential)


def test_dask_collections_are_answered_by_partitions_on_the_cluster(iris, cluster):
    dd = pytest.importorskip("dask.dataframe")
    import dask.array as da
    import pandas as pd

    import kestrane.dask

    header, X, y = iris
    frame = pd.DataFrame(X, columns=header[:-1])
    clf = kestrane.FuzzyClassifier(epochs=20, change_after=5).fit(frame, y)
    ddf = dd.from_pandas(frame, npartitions=3)
    np.testing.assert_array_equal(kestrane.dask.predict(clf, ddf).compute(), clf.predict(frame))
    np.testing.assert_array_equal(kestrane.dask.predict(clf, ddf, "predict_proba").compute(),
                                  clf.predict_proba(frame))
    plain = kestrane.FuzzyClassifier(epochs=20, change_after=5).fit(X, y)
    array = da.from_array(X, chunks=(50, 2))
    np.testing.assert_array_equal(kestrane.dask.predict(plain, array).compute(), plain.predict(X))
    np.testing.assert_array_equal(kestrane.dask.predict(plain, array, "decision_function").compute(),
                                  plain.decision_function(X))
