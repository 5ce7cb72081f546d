// A command runner that records every command instead of running it, answers from a table, and is
// installed for its lifetime (ScopedCommandRunner).
#pragma once

#include "platform/shell.h"

#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace zelo::test {

class RecordingRunner : public CommandRunner {
public:
    using Argv = std::vector<std::string>;

    int Run(const Argv& argv, std::string* output) override
    {
        ran.push_back(argv);
        const auto it = answers.find(argv);
        if (it == answers.end()) return otherwise;
        if (output) *output = it->second.second;
        return it->second.first;
    }
    int RunCapturing(const Argv& argv, std::string* output, std::string* errorText) override
    {
        if (errorText) *errorText = errors.count(argv) ? errors.at(argv) : std::string();
        return Run(argv, output);
    }
    // Asks the command's questions of prompts in order (input ends at the first nullopt), then runs it.
    int RunAnswering(const Argv& argv, const PromptAnswer& answer) override
    {
        for (const std::string& prompt : prompts[argv]) {
            replies.push_back(answer(prompt));
            if (!replies.back()) break;
        }
        return Run(argv, nullptr);
    }
    bool StartDetached(const Argv& argv) override
    {
        detached.push_back(argv);
        return startable.count(argv[0]) > 0;
    }

    std::vector<Argv> ran; // Run, in order
    std::vector<Argv> detached; // StartDetached, in order
    std::map<Argv, std::pair<int, std::string>> answers; // exit code and output of a command
    std::map<Argv, std::string> errors; // the standard error of a command (RunCapturing)
    std::map<Argv, std::vector<std::string>> prompts; // the questions a command asks (RunAnswering)
    std::vector<std::optional<std::string>> replies; // what they were answered, in order
    int otherwise = 0; // the exit code of a command without an answer
    std::set<std::string> startable = { "gio", "xdg-open" }; // programs StartDetached can start

private:
    ScopedCommandRunner m_installed { *this };
};

} // namespace zelo::test
