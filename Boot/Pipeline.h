#ifndef KESTRANE_BOOT_PIPELINE_H
#define KESTRANE_BOOT_PIPELINE_H

// The headless layer in one include, for the front ends: fit, the model and
// its answers, cross-validation with its grid search, the rule report, the
// defaults, the family of failures and the diagnostics sink the front end
// routes. Nothing in it reads argv or writes to the standard streams.

#include "Boot/AutoSearch.h"
#include "Boot/CrossValidation.h"
#include "Boot/FitPipeline.h"
#include "Boot/Model.h"
#include "Boot/RuleReport.h"
#include "Boot/Settings.h"
#include "DataTools/CsvImport/StarterParameters.h"
#include "KQmessage/Diagnostics.h"
#include "KQmessage/KestraneError.h"
#include "KQmessage/TException.h"

#endif
