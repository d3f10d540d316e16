// Network files that the fuzzer found to crash the reader or to be accepted
// by the reader but refused by the writer. Each must now be rejected with a
// clear FileTools::Error.

#include "tests/FileHandler/NetworkFileHelpers.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using netfiletest::ReadError;

const std::string kHead = "[NeuralNetwork][NetworkType = Basic][NetworkInformation]"
                          "[NumberOfLayers = 2][InputLayer = 1][~NetworkInformation]";
const std::string kInput = "[Layer = 1][LayerType = Input][NumberOfNeurons = 1][~Layer]";

std::string WithLayer0(const std::string &layer) {
  return kHead + layer + kInput + "[~NeuralNetwork]";
}

TEST(NetworkFileFuzzTest, ParameterOfALayerWithoutNeurons) {
  // Used to look up the parameter on neuron 0 of an empty layer.
  EXPECT_EQ(ReadError(WithLayer0("[Layer = 0][LayerType = Gain][NumberOfNeurons = 0]"
                                 "[Gain = 1][~Layer]")),
            "Layer 0: the neurons of a Gain layer have no parameter \"Gain\"");
  EXPECT_EQ(ReadError(WithLayer0("[Layer = 0][NumberOfNeurons = 0][LayerType = Simple]"
                                 "[ALL Gain = 1][~Layer]")),
            "Layer 0: the neurons of a Simple layer have no parameter \"Gain\"");
}

TEST(NetworkFileFuzzTest, BiasLayerMustHoldOneNeuron) {
  // The writer refuses these, so the reader must not hand them out.
  for (const char *count : {"0", "2"})
    EXPECT_EQ(
        ReadError(WithLayer0(std::string("[Layer = 0][LayerType = Simple][NumberOfNeurons = ") +
                             count + "][ALL ActivationFunction=bias][~Layer]")),
        std::string("Layer 0: a bias layer has exactly one neuron, not ") + count);
  EXPECT_EQ(ReadError(WithLayer0("[Layer = 0][LayerType = Simple][NumberOfNeurons = 2]"
                                 "[Neurons][Neuron=0 ActivationFunction=bias]"
                                 "[Neuron=1 ActivationFunction=bias][~Neurons][~Layer]")),
            "Layer 0: a bias layer has exactly one neuron, not 2");
  EXPECT_EQ(ReadError(WithLayer0("[Layer = 0][LayerType = Simple][NumberOfNeurons = 1]"
                                 "[ALL ActivationFunction=bias][~Layer]")),
            "no error");
}

TEST(NetworkFileFuzzTest, LayersOfMillionsOfNeuronsAreRefused) {
  // Ten million neurons from a one-line layer took seconds and a gigabyte.
  EXPECT_EQ(ReadError(WithLayer0("[Layer = 0][LayerType = Simple][NumberOfNeurons = 10000000]"
                                 "[~Layer]")),
            "Layer 0: NumberOfNeurons 10000000 exceeds the limit of 1000000");
}

} // namespace
