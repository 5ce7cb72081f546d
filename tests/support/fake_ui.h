// A scripted user: records every message the engine shows, answers questions from a queue,
// and can run an action from inside the event pump (for example press the stop button).
#pragma once

#include "platform/ui_services.h"

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace zelo::test {

struct ShownMessage {
    std::string text;
    std::string caption; // empty for a plain message
    uint32_t flags = 0;
    bool plain = false;
};

class FakeProgress : public ProgressWindow {
public:
    void Show() override
    {
        visible = true;
        ++showCount;
    }
    void Close() override { visible = false; }
    bool IsVisible() const override { return visible; }
    void SetMax(ProgressBar bar, int max) override { maxOf[bar] = max; }
    void SetPosition(ProgressBar bar, int position) override { positionOf[bar] = position; }
    int Position(ProgressBar bar) const override
    {
        auto it = positionOf.find(bar);
        return it == positionOf.end() ? 0 : it->second;
    }
    void Step(ProgressBar bar, int steps) override
    {
        positionOf[bar] += steps;
        stepsOf[bar] += steps;
    }
    void SetBarVisible(ProgressBar bar, bool v) override { barVisible[bar] = v; }
    void SetLabel(const std::string& text) override { label = text; }
    void SetStopVisible(bool v) override { stopVisible = v; }

    bool visible = false;
    int showCount = 0;
    std::map<ProgressBar, int> maxOf, positionOf, stepsOf;
    std::map<ProgressBar, bool> barVisible;
    std::string label;
    bool stopVisible = true;
};

class FakeUi : public UiServices {
public:
    void ShowPlainMessage(const std::string& text) override { messages.push_back({ text, "", 0, true }); }
    int AppMessageBox(const std::string& text, const std::string& caption, uint32_t flags) override
    {
        messages.push_back({ text, caption, flags, false });
        if (flags == kMbOk) return kIdOk;
        if (answers.empty()) return kIdNo;
        int a = answers.front();
        answers.pop_front();
        return a;
    }
    void ProcessEvents() override
    {
        ++pumpCount;
        if (onPump) onPump(pumpCount);
    }
    void SetBusyCursor(bool busy) override { cursorLog.push_back(busy); }
    ProgressWindow& Progress() override { return progress; }

    std::vector<std::string> texts() const
    {
        std::vector<std::string> out;
        for (const auto& m : messages)
            out.push_back(m.text);
        return out;
    }

    std::vector<ShownMessage> messages;
    std::deque<int> answers; // kIdYes / kIdNo, in order; No when empty
    std::function<void(int)> onPump;
    int pumpCount = 0;
    std::vector<bool> cursorLog;
    FakeProgress progress;

private:
    ScopedUiServices m_installed { *this };
};

} // namespace zelo::test
