// Entry point: one DriverSearchTool per process; its result is the exit code.
#include <memory>

#include "DriverSearchTool.h"
#include "ErrorHandler.h"
#include "Platform.h"

int main(int argc, char** argv) {
    // Before any file is opened: a standard descriptor the parent left closed would
    // be taken by the first one, and the batch file would receive the console lines.
    if (!platform::SecureStandardStreams()) return static_cast<int>(ReturnCode::kGeneralError);
    InstallAllocationFailureHandler();
    platform::PrepareHeap();
    auto tool = std::make_unique<DriverSearchTool>();
    const ReturnCode result = tool->Run(argc, argv);
    tool.reset();
    CloseConsoleLines();
    return static_cast<int>(result);
}
