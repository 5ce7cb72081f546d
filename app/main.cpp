// zelo32: creates the application and its windows and runs the event loop.
#include "ui/application.h"

#include <exception>

int main(int argc, char* argv[])
{
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
