// zelo32: creates the application and its windows and runs the event loop.
#include "ui/application.h"

#include <cstdio>
#include <cstring>
#include <exception>

int main(int argc, char* argv[])
{
    // Answered before the application starts, so it needs no display.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("zelo32 %s\n", ZELO_VERSION);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    zelo::ZeloApplication app(argc, argv);
    try {
        auto windows = zelo::CreateWindows();
        zelo::ZeloApplication::exec();
    } catch (const std::exception& e) {
        zelo::ShowExceptionMessage(e.what());
    } catch (...) {
        // Whatever escapes start-up is shown the same way, and the program still ends with 0.
        zelo::ShowExceptionMessage("Unknown exception");
    }
    return 0;
}
