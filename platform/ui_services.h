// What the engine asks of the windows: messages, questions, event pumping, the progress window, the cursor.
// The Qt windows implement it; tests install a scripted fake.
#pragma once

#include <cstdint>
#include <string>

namespace zelo {

// Message box flags and answers, numbered as the program tests them.
inline constexpr uint32_t kMbOk = 0;
inline constexpr uint32_t kMbYesNo = 4;
// Added to kMbYesNo: No is the default button and has the first focus, so Enter or Space keeps everything.
inline constexpr uint32_t kMbDefButton2 = 0x100;
// The bits of the flags that choose the buttons.
inline constexpr uint32_t kMbTypeMask = 0xF;
inline constexpr int kIdOk = 1;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

// Whether a box with these flags asks Yes/No, whichever button is its default.
constexpr bool AsksYesNo(uint32_t flags)
{
    return (flags & kMbTypeMask) == kMbYesNo;
}

enum class ProgressBar {
    Overall, // PBar1
    Block, // PBar2
};

// The progress window (Form7) as the engine drives it.
class ProgressWindow {
public:
    virtual ~ProgressWindow() = default;
    virtual void Show() = 0;
    virtual void Close() = 0;
    virtual bool IsVisible() const = 0;
    virtual void SetMax(ProgressBar bar, int max) = 0;
    virtual void SetPosition(ProgressBar bar, int position) = 0;
    virtual int Position(ProgressBar bar) const = 0;
    // Advances the bar by steps (one step per 8192-byte block of a copy).
    virtual void Step(ProgressBar bar, int steps = 1) = 0;
    virtual void SetBarVisible(ProgressBar bar, bool visible) = 0;
    virtual void SetLabel(const std::string& text) = 0;
    virtual void SetStopVisible(bool visible) = 0;
    // Whether anyone sees the bars: what is worked out only for a bar's end is left out where nobody does.
    virtual bool ShowsBars() const { return true; }
};

class UiServices {
public:
    virtual ~UiServices() = default;
    // Modal box with the application title as caption, the text, OK only, no icon.
    virtual void ShowPlainMessage(const std::string& text) = 0;
    // The platform message box: flags kMbOk or kMbYesNo (with kMbDefButton2: No is the default); returns
    // kIdOk, kIdYes or kIdNo.
    virtual int AppMessageBox(const std::string& text, const std::string& caption, uint32_t flags) = 0;
    // Lets pending window events run once (rate-limited: cheap to call per block).
    virtual void ProcessEvents() = 0;
    // Hourglass on (true) or arrow (false).
    virtual void SetBusyCursor(bool busy) = 0;
    virtual ProgressWindow& Progress() = 0;
};

// The services in use. Before the windows install theirs, a quiet default answers No and
// prints messages to standard error (the command-line driver relies on it).
UiServices& ui();
// Installs services for the scope's lifetime and then puts back those that were in use, so scopes nest.
class ScopedUiServices {
public:
    explicit ScopedUiServices(UiServices& services);
    ~ScopedUiServices();
    ScopedUiServices(const ScopedUiServices&) = delete;
    ScopedUiServices& operator=(const ScopedUiServices&) = delete;

private:
    UiServices* m_previous;
};

// Services that hand every call to those in use when they were made: a wrapper overrides only what it
// changes and installs itself with a ScopedUiServices.
class ForwardingUiServices : public UiServices {
public:
    ForwardingUiServices()
        : m_inner(ui())
    {
    }
    void ShowPlainMessage(const std::string& text) override { m_inner.ShowPlainMessage(text); }
    int AppMessageBox(const std::string& text, const std::string& caption, uint32_t flags) override
    {
        return m_inner.AppMessageBox(text, caption, flags);
    }
    void ProcessEvents() override { m_inner.ProcessEvents(); }
    void SetBusyCursor(bool busy) override { m_inner.SetBusyCursor(busy); }
    ProgressWindow& Progress() override { return m_inner.Progress(); }

protected:
    UiServices& inner() { return m_inner; }

private:
    UiServices& m_inner;
};

} // namespace zelo
