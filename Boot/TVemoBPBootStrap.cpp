#include "Boot/TVemoBPBootStrap.h"

#include "DataObject/Data.h"
#include "DataTools/DataManip/TDataManip.h"
#include "KQmessage/KQML.h"
#include "KQmessage/TException.h"
#include "Vemo/CentreLearning.h"
#include "Vemo/TVemoBP.h"

namespace kestrane {

TVemoBPBootStrap::TVemoBPBootStrap(TBasicNetwork *network) : network(network) {
  if (network == nullptr)
    throw TException("Null network pointer", kNullPointerParameter,
                     "TVemoBPBootStrap::TVemoBPBootStrap");
  trainer = std::make_unique<TVemoBP>(network);
}

TVemoBPBootStrap::~TVemoBPBootStrap() = default;

void TVemoBPBootStrap::SetLearnCentres(bool on) {
  const bool learning = dynamic_cast<TVemoBPCentres *>(trainer.get()) != nullptr;
  if (on == learning)
    return;
  if (on)
    trainer = std::make_unique<TVemoBPCentres>(network);
  else
    trainer = std::make_unique<TVemoBP>(network);
}

double TVemoBPBootStrap::Run(int32_t numClasses, Data *const *tables, const int32_t *examples,
                             int32_t totalEpochs, int32_t epochsPerRound, float learningRate,
                             float momentum, double threshold, bool batch) {
  double error = 2147483647.0;
  int32_t spent = 0;
  rounds = 0;

  TKQstructure params("Params");
  params.SetNumber("LearningRate", static_cast<double>(learningRate));
  params.SetNumber("Momentum", static_cast<double>(momentum));
  params.SetNumber("Threshold", threshold);
  params.SetBoolean("Batch", batch);

  int32_t inRound = 0;
  if (progress)
    trainer->epochDone = [&](double epochError) {
      progress(Progress{spent + ++inRound, totalEpochs, rounds, epochError});
    };
  // The hook refers to this call's locals; it must not outlive them.
  struct Unhook {
    std::function<void(double)> &fn;
    ~Unhook() { fn = nullptr; }
  } unhook{trainer->epochDone};

  while (spent < totalEpochs && error > threshold) {
    const std::vector<std::vector<int32_t>> *copies = rowCopies.empty() ? nullptr : &rowCopies;
    std::unique_ptr<Data> drawn =
        withReplacement ? TDataManip::RecombineWithReplacement(numClasses, tables, examples, copies)
                        : TDataManip::Recombine(numClasses, tables, examples, copies);
    // Training on nothing would report an error of 0 as if the run had succeeded.
    if (drawn->MbrNdxDataRows == 0)
      throw TException("Empty training set: every class gives 0 examples", kBadParameter,
                       "TVemoBPBootStrap::Run");
    ++rounds;
    inRound = 0;
    int32_t epochs = epochsPerRound;
    error = trainer->Train(drawn.get(), &params, epochs);
    spent += epochs;
    if (roundDone && roundDone())
      break;
  }
  return error;
}

} // namespace kestrane
