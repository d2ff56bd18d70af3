#include "engine/RunContext.h"

#include "foundation/TBException.h"

namespace {

std::atomic<RunContext*> current{nullptr};

}  // namespace

RunContext::~RunContext() = default;

void RunContext::install(RunContext* context) {
    current.store(context);
}

RunContext& RunContext::installed() {
    RunContext* context = current.load();
    if (context == nullptr)
        TB_THROW(terbin::TBIllegalStateException, "no run context is installed");
    return *context;
}

bool RunContext::isInstalled(const RunContext* context) {
    return current.load() == context;
}

terbin::TBStringArray RunContext::topLevelTargets() const {
    return {};
}
