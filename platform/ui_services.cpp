// The quiet default of the UI services: messages on standard error, questions answered No.
#include "platform/ui_services.h"

#include "platform/text.h"

#include <cstdio>
#include <map>

namespace zelo {

namespace {

// Keeps the values it is given, so code that reads a bar back sees what it set.
class QuietProgress : public ProgressWindow {
public:
    void Show() override { m_visible = true; }
    void Close() override { m_visible = false; }
    bool IsVisible() const override { return m_visible; }
    void SetMax(ProgressBar, int) override { }
    void SetPosition(ProgressBar bar, int position) override { m_position[bar] = position; }
    int Position(ProgressBar bar) const override
    {
        const auto it = m_position.find(bar);
        return it == m_position.end() ? 0 : it->second;
    }
    void Step(ProgressBar bar, int steps) override { m_position[bar] += steps; }
    void SetBarVisible(ProgressBar, bool) override { }
    void SetLabel(const std::string&) override { }
    void SetStopVisible(bool) override { }
    bool ShowsBars() const override { return false; }

private:
    bool m_visible = false;
    std::map<ProgressBar, int> m_position;
};

class QuietUi : public UiServices {
public:
    // Messages name files whose names may hold terminal controls: escaped on their way to the terminal.
    void ShowPlainMessage(const std::string& text) override
    {
        std::fprintf(stderr, "%s\n", EscapeForTerminal(text, true).c_str());
    }
    int AppMessageBox(const std::string& text, const std::string& caption, uint32_t flags) override
    {
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), EscapeForTerminal(text, true).c_str());
        // Nobody to ask: No, which never deletes.
        return AsksYesNo(flags) ? kIdNo : kIdOk;
    }
    void ProcessEvents() override { }
    void SetBusyCursor(bool) override { }
    ProgressWindow& Progress() override { return m_progress; }

private:
    QuietProgress m_progress;
};

QuietUi& quietUi()
{
    static QuietUi services;
    return services;
}

UiServices* g_installed = nullptr;

} // namespace

UiServices& ui()
{
    return g_installed ? *g_installed : quietUi();
}

ScopedUiServices::ScopedUiServices(UiServices& services)
    : m_previous(g_installed)
{
    g_installed = &services;
}

ScopedUiServices::~ScopedUiServices()
{
    g_installed = m_previous;
}

} // namespace zelo
