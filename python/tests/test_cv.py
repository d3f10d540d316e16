"""FuzzyClassifierCV: the search of cv --auto, cloned and fitted as scikit-learn does."""

import numpy as np
from sklearn.base import clone
from sklearn.datasets import load_iris

from kestrane import FuzzyClassifier, FuzzyClassifierCV


def test_searches_refits_and_clones():
    X, y = load_iris(return_X_y=True)
    search = clone(FuzzyClassifierCV(max_combinations=3, n_jobs=2, random_state=3)).fit(X, y)
    results = search.cv_results_
    assert len(results["params"]) == 3 and not search.budget_cut_
    assert search.best_params_ == results["params"][search.best_index_]
    assert results["rank_test_score"][search.best_index_] == 1
    assert search.best_score_ == results["mean_test_score"].max()
    assert np.allclose(results["mean_test_score"],
                       np.mean([results[f"split{k}_test_score"] for k in range(3)], axis=0))
    # The refit is the estimator of the winning parameters, bit for bit.
    alone = FuzzyClassifier(**search.best_params_, random_state=3).fit(X, y)
    assert np.array_equal(search.predict_proba(X), alone.predict_proba(X))
    assert search.score(X, y) > 0.9
    # A budget too small for a second entry keeps the first, and says so.
    cut = FuzzyClassifierCV(time_budget=1e-6).fit(X, y)
    assert cut.budget_cut_ and len(cut.cv_results_["params"]) == 1
