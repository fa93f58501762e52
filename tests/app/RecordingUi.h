// Recording fakes of the user-interface operations: every call the controller
// makes is appended, in order, to one shared journal, so a test can check the
// exact sequence of a set-up table.
#pragma once

#include "platform/ui/Alert.h"
#include "platform/ui/Application.h"
#include "platform/ui/Button.h"
#include "platform/ui/Menu.h"
#include "platform/ui/ProgressBar.h"
#include "platform/ui/TextLabel.h"
#include "platform/ui/Window.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

using Calls = std::vector<std::string>;

/// The calls made so far, in order. Worker threads of a flow record into it
/// too, so it is locked.
class Journal {
public:
    void push_back(std::string call) {
        std::lock_guard lock(m_lock);
        m_calls.push_back(std::move(call));
    }
    void clear() {
        std::lock_guard lock(m_lock);
        m_calls.clear();
    }
    Calls calls() const {
        std::lock_guard lock(m_lock);
        return m_calls;
    }
    bool contains(const std::string& call) const {
        const Calls all = calls();
        return std::find(all.begin(), all.end(), call) != all.end();
    }
    /// How many calls start with \p prefix.
    size_t startingWith(const std::string& prefix) const {
        const Calls all = calls();
        return static_cast<size_t>(std::count_if(
            all.begin(), all.end(), [&](const std::string& call) { return call.rfind(prefix, 0) == 0; }));
    }

private:
    mutable std::mutex m_lock;
    Calls m_calls;
};

/// Records "<name><what>" for a control named \p name.
struct Recorder {
    Journal& journal;
    std::string name;
    void record(const std::string& what) const { journal.push_back(name + what); }
};

/// Any of the window's controls: a button, a text label, the progress bar or
/// the window itself.
struct RecordingControl final : platform::ui::Button,
                                platform::ui::TextLabel,
                                platform::ui::ProgressBar,
                                platform::ui::Window,
                                Recorder {
    RecordingControl(Journal& journal, std::string name) : Recorder{journal, std::move(name)} {}
    void setHidden(bool hidden) override { record(hidden ? " hidden" : " shown"); }
    void setTitle(const std::string& title) override { record(" title=" + title); }
    void setEnabled(bool enabled) override { record(enabled ? " enabled" : " disabled"); }
    int state() const override { return 0; }
    void setText(const std::string& text) override { record(" text=" + text); }
    void setDoubleValue(double value) override { record(" value=" + std::to_string(value)); }
    void setModalPanelLevel() override { record(" level=modal panel"); }
    void center() override { record(" center"); }
    void makeKeyAndOrderFront() override { record(" key and front"); }
};

/// A menu (\p kind "menu") or a menu item ("item"); records "<kind> '<title>'
/// title=<new title>".
struct FakeMenu final : platform::ui::Menu, platform::ui::MenuItem {
    FakeMenu(Journal& journal, std::string kind, std::string title, bool separator = false)
        : journal(journal), kind(std::move(kind)), name(std::move(title)), separator(separator) {}
    std::string title() const override { return name; }
    void setTitle(const std::string& title) override {
        journal.push_back(kind + " '" + name + "' title=" + title);
        name = title;
    }
    bool isSeparator() const override { return separator; }
    platform::ui::Menu* submenu() override { return sub.get(); }
    size_t itemCount() const override { return items.size(); }
    platform::ui::MenuItem& item(size_t index) override { return *items.at(index); }

    FakeMenu& add(std::string title, bool separator = false) {
        return *items.emplace_back(std::make_unique<FakeMenu>(journal, "item", std::move(title), separator));
    }
    /// Gives the item a submenu of the same title.
    FakeMenu& addMenu() { return *(sub = std::make_unique<FakeMenu>(journal, "menu", name)); }

    Journal& journal;
    std::string kind, name;
    bool separator;
    std::unique_ptr<FakeMenu> sub;
    std::vector<std::unique_ptr<FakeMenu>> items;
};

/// An alert that records what it was given and answers with a chosen button.
struct ScriptedAlert final : platform::ui::Alert, Recorder {
    ScriptedAlert(Journal& journal, int answer) : Recorder{journal, "alert "}, answer(answer) {}
    void addButton(const std::string& title) override { record("button=" + title); }
    void setMessageText(const std::string& text) override { record("message=" + text); }
    void setInformativeText(const std::string& text) override { record("informative=" + text); }
    void setInformationalStyle() override { record("style=informational"); }
    int runModal() override {
        record("run");
        return answer;
    }
    int answer;
};

struct RecordingApplication final : platform::ui::Application, Recorder {
    explicit RecordingApplication(Journal& journal) : Recorder{journal, "app "} {}
    platform::ui::Menu* mainMenu() override { return menu.get(); }
    std::unique_ptr<platform::ui::Alert> makeAlert() override {
        return std::make_unique<ScriptedAlert>(journal, alertAnswer);
    }
    void terminateDeferred() override { record("terminate deferred"); }
    void postTermination() override { record("terminate posted"); }
    void setExitStatus(int status) override { record("exit status=" + std::to_string(status)); }

    std::unique_ptr<FakeMenu> menu;
    /// What alerts answer: 1000 for the first button, 1001 for the second.
    int alertAnswer = platform::ui::Alert::SecondButtonReturn;
};
