#include "agent/package/InstallStep.h"

#include "agent/package/CheckPackageStep.h"
#include "agent/package/CopyPayloadStep.h"
#include "agent/package/MakeLocationStep.h"
#include "agent/package/RemoveOldFilesStep.h"
#include "agent/package/RunScriptStep.h"
#include "agent/package/WriteReceiptStep.h"

std::unique_ptr<InstallStep> InstallStep::named(std::string_view name) {
    std::unique_ptr<InstallStep> steps[] = {
        std::make_unique<CheckPackageStep>(),
        std::make_unique<RunScriptStep>(RunScriptStep::Script::Preinstall),
        std::make_unique<MakeLocationStep>(),
        std::make_unique<CopyPayloadStep>(),
        std::make_unique<RemoveOldFilesStep>(),
        std::make_unique<RunScriptStep>(RunScriptStep::Script::Postinstall),
        std::make_unique<WriteReceiptStep>(),
    };
    for (auto& step : steps)
        if (name == step->name())
            return std::move(step);
    return nullptr;
}
