// Entry point: one DriverSearchTool per process; its result is the exit code.
#include <memory>

#include "DriverSearchTool.h"
#include "ErrorHandler.h"

int main(int argc, char** argv) {
    InstallAllocationFailureHandler();
    auto tool = std::make_unique<DriverSearchTool>();
    int result = tool->Run(argc, argv);
    tool.reset();
    FlushConsoleLines();
    return result;
}
