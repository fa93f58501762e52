// Runs Scripts/preinstall or Scripts/postinstall, if the package has it (see
// PackageInstaller.h for how). What a script changed is its own to undo.
#pragma once

#include "agent/package/InstallStep.h"

class RunScriptStep final : public InstallStep {
public:
    enum class Script { Preinstall, Postinstall };
    explicit RunScriptStep(Script script) : m_script(script) {}

    const char* name() const override {
        return m_script == Script::Preinstall ? "preinstall" : "postinstall";
    }
    InstallResult perform(InstallContext& context) override;
    bool undo(const std::vector<JournalRecord>&) const override { return true; }

private:
    const Script m_script;
};
