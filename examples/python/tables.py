"""Real tables from Python: four of R's mlbench sets as R's write.csv exports
them (text columns, missing values as NA), read by pandas and handed to
FuzzyClassifier as they are, inside a Pipeline and a GridSearchCV. Beside it,
a random forest on one-hot encoded and imputed columns. Needs Rscript with
the mlbench package (Debian: r-base-core r-cran-mlbench) and pandas:

    python examples/python/tables.py [FOLDER]

FOLDER keeps the exported CSV files (default: a temporary folder).
"""

import pathlib
import subprocess
import sys
import tempfile

import pandas as pd
from sklearn.compose import ColumnTransformer, make_column_selector
from sklearn.ensemble import RandomForestClassifier
from sklearn.impute import SimpleImputer
from sklearn.model_selection import GridSearchCV, train_test_split
from sklearn.pipeline import Pipeline, make_pipeline
from sklearn.preprocessing import OneHotEncoder

import kestrane

# The set, its class column and the columns that say nothing about new rows.
SETS = [("HouseVotes84", "Class", []), ("Soybean", "Class", []),
        ("BreastCancer", "Class", ["Id"]), ("Zoo", "type", [])]
SEED = 26


def export(folder):
    for name, _, _ in SETS:
        path = folder / f"{name}.csv"
        if not path.exists():
            script = (f"library(mlbench); data({name}); "
                      f"write.csv({name}, '{path}', row.names = FALSE)")
            subprocess.run(["Rscript", "-e", script], check=True)


def forest():
    """The usual preparation for a forest: impute, then one-hot encode text."""
    text = make_column_selector(dtype_include=object)
    numbers = make_column_selector(dtype_exclude=object)
    return make_pipeline(ColumnTransformer([
        ("numbers", SimpleImputer(strategy="median"), numbers),
        ("text", make_pipeline(SimpleImputer(strategy="most_frequent"),
                               OneHotEncoder(handle_unknown="ignore")), text)]),
        RandomForestClassifier(random_state=SEED))


def main():
    folder = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else pathlib.Path(tempfile.mkdtemp())
    folder.mkdir(parents=True, exist_ok=True)
    export(folder)
    print(f"{'set':<14}{'rows':>6}{'text cols':>10}{'missing':>8}  {'kestrane':>8}  {'forest':>6}")
    for name, class_column, dropped in SETS:
        # R writes logical columns as TRUE/FALSE and factors as quoted text;
        # pandas reads them as booleans and text. Nothing else is done to them.
        frame = pd.read_csv(folder / f"{name}.csv", keep_default_na=False, na_values=["NA"])
        y = frame.pop(class_column).astype(str)
        X = frame.drop(columns=dropped)
        X_train, X_test, y_train, y_test = train_test_split(
            X, y, test_size=0.3, stratify=y, random_state=SEED)

        search = GridSearchCV(Pipeline([("fuzzy", kestrane.FuzzyClassifier(random_state=SEED))]),
                              {"fuzzy__epochs": [300, 500]}, cv=3)
        search.fit(X_train, y_train)
        ours = search.score(X_test, y_test)
        theirs = forest().fit(X_train, y_train).score(X_test, y_test)
        text_columns = len(make_column_selector(dtype_include=object)(X))
        print(f"{name:<14}{len(X):>6}{text_columns:>10}{int(X.isna().sum().sum()):>8}  "
              f"{ours * 100:8.1f}  {theirs * 100:6.1f}")

        fitted = search.best_estimator_.named_steps["fuzzy"]
        rule = fitted.rules(X_train, y_train)["vote_rules"]["rules"][0]
        print(f"  first rule: if {' and '.join(c['text'] for c in rule['conditions'])} "
              f"then {rule['class']} +{rule['vote']:.1f}")


if __name__ == "__main__":
    main()
