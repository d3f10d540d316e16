"""The network's layer numbers, as the C++ side names them (TVemo::Layer and
TVemo::WeightLayerNumber in Vemo/TVemo.h); keep the two in step."""

from enum import IntEnum


class Layer(IntEnum):
    """The six layers of the network."""

    BIAS = 0
    INPUT = 1
    CONDITION = 2  # one neuron per input membership function
    RULE = 3
    ACTION = 4  # one neuron per output membership function
    OUTPUT = 5


class WeightLayer(IntEnum):
    """The numbers ``Model.weight_layer`` takes: weight layer k is the matrix
    from layer k to layer k + 1."""

    CONDITION_CENTRES = 1  # input -> condition: the input membership centres
    RULE_WEIGHTS = 2  # condition -> rule
    ACTION_WEIGHTS = 3  # rule -> action
    OUTPUT_CENTRES = 4  # action -> output: the output membership centres
