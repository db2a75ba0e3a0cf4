/* Starts a program with no standard handles at all, as a service or a detached parent may:
 *   no_standard_handles.exe PROGRAM [ARGUMENTS...]
 * and exits with the program's exit code (255 when it cannot be started). */
#include <windows.h>

int main(void) {
    /* The command line after this program's own name, as it was given. */
    wchar_t* rest = GetCommandLineW();
    int quoted = 0;
    while (*rest != L'\0' && (quoted || (*rest != L' ' && *rest != L'\t'))) {
        if (*rest == L'"') quoted = !quoted;
        ++rest;
    }
    while (*rest == L' ' || *rest == L'\t') ++rest;

    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = NULL;
    startup.hStdOutput = NULL;
    startup.hStdError = NULL;
    PROCESS_INFORMATION process;
    if (!CreateProcessW(NULL, rest, NULL, NULL, FALSE, DETACHED_PROCESS, NULL, NULL, &startup,
                        &process)) {
        return 255;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 255;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return (int)code;
}
