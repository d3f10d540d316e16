"""What the library reports arrives as a KestraneWarning, never on the
interpreter's standard streams."""

import re
import warnings

import numpy as np
import pandas as pd
import pytest

import kestrane
from conftest import ROOT

IRIS = ROOT / "examples" / "iris"

# A network whose input layer is a plain layer: it answers, with a warning on
# every pass.
PLAIN_INPUT_LAYER = """[FormatVersion = 1.0]
[NeuralNetwork][NetworkType = Connected]
[NetworkInformation][NumberOfLayers = 3][InputLayer = 1][OutputLayer = 2]
[NumberOfInputs = 1][NumberOfOutputs = 1][BiasLayer = 0][~NetworkInformation]
[Layer = 0][LayerType = Simple][NumberOfNeurons = 1][All ActivationFunction=bias ][~Layer]
[Layer = 1][LayerType = Simple][NumberOfNeurons = 1][All ActivationFunction=linear ][~Layer]
[Layer = 2][LayerType = Simple][NumberOfNeurons = 1][All ActivationFunction=linear ][~Layer]
[ConnectionLayer][LayerFrom = 1][LayerTo = 2][ConnectionType = FullyConnected]
[Attributes UnPrunable UnFreezable ][Matrix Weights ]
1
[~Matrix][~ConnectionLayer]
[~NeuralNetwork]
"""


def test_a_warning_of_the_library_is_a_kestrane_warning(capfd):
    assert issubclass(kestrane.KestraneWarning, UserWarning)
    model = kestrane._kestrane.Model.from_text(PLAIN_INPUT_LAYER, ["a"], [0.0], [1.0])
    with pytest.warns(kestrane.KestraneWarning) as caught:
        outputs, _ = model.recall(np.array([[0.25], [0.75]]))
    np.testing.assert_array_equal(outputs, [[0.25], [0.75]])
    # One warning per call, however many rows repeat it.
    assert [str(w.message) for w in caught] == ["!Warning: changed input layer (TSimpleLayer)"]
    with warnings.catch_warnings():
        warnings.simplefilter("error", kestrane.KestraneWarning)
        with pytest.raises(kestrane.KestraneWarning):
            model.recall(np.array([[0.5]]))
    assert capfd.readouterr() == ("", "")


def test_a_failing_predict_raises_and_prints_nothing(tmp_path, capfd):
    text = (IRIS / "iris-initial.wgt").read_text()
    at = text.index("ToOutputConnections")
    (tmp_path / "bad.wgt").write_text(text[:at] + re.sub(r"Weight=[0-9.]+", "Weight=7.0", text[at:]))
    (tmp_path / "bad.ranges").write_bytes((IRIS / "iris.ranges").read_bytes())
    clf = kestrane.load(tmp_path / "bad")
    row = pd.DataFrame([[5.1, 3.5, 1.4, 0.2]], columns=clf.feature_names_in_)
    with (pytest.warns(kestrane.KestraneWarning, match="^7$"),
          pytest.raises(RuntimeError, match=r"Defuzzified output outside \[0, 1\]")):
        clf.predict(row)
    # A warning the filters turn into an error does not hide the failure.
    with warnings.catch_warnings():
        warnings.simplefilter("error", kestrane.KestraneWarning)
        with pytest.raises(RuntimeError, match="Defuzzified"):
            clf.predict(row)
    assert capfd.readouterr() == ("", "")
