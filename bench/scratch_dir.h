// The scratch folder of a window bench: under BENCH_DIR (tmpfs, /dev/shm, by default), one per run.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace zelo::bench {

inline std::filesystem::path ScratchDir(const std::string& name)
{
    const char* base = std::getenv("BENCH_DIR");
    std::filesystem::path dir
        = std::filesystem::path(base ? base : "/dev/shm") / ("zelo-" + name + "-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    return dir;
}

} // namespace zelo::bench
