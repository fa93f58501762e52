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
#include <functional>
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

private:
    mutable std::mutex m_lock;
    Calls m_calls;
};

class RecordingButton final : public platform::ui::Button {
public:
    RecordingButton(Journal& journal, std::string name) : m_journal(journal), m_name(std::move(name)) {}
    void setHidden(bool hidden) override { m_journal.push_back(m_name + (hidden ? " hidden" : " shown")); }
    void setTitle(const std::string& title) override { m_journal.push_back(m_name + " title=" + title); }
    void setEnabled(bool enabled) override {
        m_journal.push_back(m_name + (enabled ? " enabled" : " disabled"));
    }
    int state() const override { return checked ? 1 : 0; }

    bool checked = false;

private:
    Journal& m_journal;
    std::string m_name;
};

class RecordingLabel final : public platform::ui::TextLabel {
public:
    RecordingLabel(Journal& journal, std::string name) : m_journal(journal), m_name(std::move(name)) {}
    void setText(const std::string& text) override { m_journal.push_back(m_name + " text=" + text); }

private:
    Journal& m_journal;
    std::string m_name;
};

class RecordingProgressBar final : public platform::ui::ProgressBar {
public:
    explicit RecordingProgressBar(Journal& journal) : m_journal(journal) {}
    void setDoubleValue(double value) override {
        m_journal.push_back("progress value=" + std::to_string(value));
    }

private:
    Journal& m_journal;
};

class RecordingWindow final : public platform::ui::Window {
public:
    explicit RecordingWindow(Journal& journal) : m_journal(journal) {}
    void setModalPanelLevel() override { m_journal.push_back("window level=modal panel"); }
    void center() override { m_journal.push_back("window center"); }
    void makeKeyAndOrderFront() override { m_journal.push_back("window key and front"); }

private:
    Journal& m_journal;
};

class FakeMenu;

class FakeMenuItem final : public platform::ui::MenuItem {
public:
    FakeMenuItem(Journal& journal, std::string title, bool separator = false)
        : m_journal(journal), m_title(std::move(title)), m_separator(separator) {}
    std::string title() const override { return m_title; }
    void setTitle(const std::string& title) override {
        m_journal.push_back("item '" + m_title + "' title=" + title);
        m_title = title;
    }
    bool isSeparator() const override { return m_separator; }
    platform::ui::Menu* submenu() override;

    std::unique_ptr<FakeMenu> sub;

private:
    Journal& m_journal;
    std::string m_title;
    bool m_separator;
};

class FakeMenu final : public platform::ui::Menu {
public:
    FakeMenu(Journal& journal, std::string title) : m_journal(journal), m_title(std::move(title)) {}
    std::string title() const override { return m_title; }
    void setTitle(const std::string& title) override {
        m_journal.push_back("menu '" + m_title + "' title=" + title);
        m_title = title;
    }
    size_t itemCount() const override { return items.size(); }
    platform::ui::MenuItem& item(size_t index) override { return *items.at(index); }

    FakeMenuItem& add(std::string title, bool separator = false) {
        items.push_back(std::make_unique<FakeMenuItem>(m_journal, std::move(title), separator));
        return *items.back();
    }

    std::vector<std::unique_ptr<FakeMenuItem>> items;

private:
    Journal& m_journal;
    std::string m_title;
};

inline platform::ui::Menu* FakeMenuItem::submenu() {
    return sub.get();
}

/// An alert that records what it was given and answers with a chosen button.
class ScriptedAlert final : public platform::ui::Alert {
public:
    ScriptedAlert(Journal& journal, int answer) : m_journal(journal), m_answer(answer) {}
    void addButton(const std::string& title) override { m_journal.push_back("alert button=" + title); }
    void setMessageText(const std::string& text) override { m_journal.push_back("alert message=" + text); }
    void setInformativeText(const std::string& text) override {
        m_journal.push_back("alert informative=" + text);
    }
    void setInformationalStyle() override { m_journal.push_back("alert style=informational"); }
    int runModal() override {
        m_journal.push_back("alert run");
        return m_answer;
    }

private:
    Journal& m_journal;
    int m_answer;
};

class RecordingApplication final : public platform::ui::Application {
public:
    explicit RecordingApplication(Journal& journal) : m_journal(journal) {}
    platform::ui::Menu* mainMenu() override { return menu.get(); }
    std::unique_ptr<platform::ui::Alert> makeAlert() override {
        return std::make_unique<ScriptedAlert>(m_journal, alertAnswer);
    }
    void terminateDeferred() override { m_journal.push_back("app terminate deferred"); }
    void postTermination() override { m_journal.push_back("app terminate posted"); }
    void setExitStatus(int status) override {
        m_journal.push_back("app exit status=" + std::to_string(status));
    }

    std::unique_ptr<FakeMenu> menu;
    /// What alerts answer: 1000 for the first button, 1001 for the second.
    int alertAnswer = platform::ui::Alert::SecondButtonReturn;

private:
    Journal& m_journal;
};
