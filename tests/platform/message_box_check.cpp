// Smoke test of the released program's message box, for a machine without a
// screen (Wine's null display driver): starts rekmo.exe so that it fails,
// finds its dialog while the program waits on it, checks the dialog (the
// exact text, an empty title, no owner, one button, no icon), presses OK and
// checks the exit code. Prints what differs; exits 0 when nothing does.
//
//   message_box_check path\to\rekmo.exe
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// A FormatFile that does not exist, named in Shift_JIS ("存在しない.txt").
const std::string MISSING_FORMAT = "\x91\xB6\x8D\xDD\x82\xB5\x82\xC8\x82\xA2.txt";
// "入力ﾌｧｲﾙが開けません。\n(" + path + ")", as stored (code page 932).
const std::string EXPECTED_TEXT =
    "\x93\xFC\x97\xCD\xCC\xA7\xB2\xD9\x82\xAA\x8A\x4A\x82\xAF\x82\xDC\x82\xB9\x82\xF1\x81\x42\n(" + MISSING_FORMAT +
    ")";
constexpr DWORD EXPECTED_EXIT = static_cast<DWORD>(-1);  // FormatFile cannot be opened
constexpr DWORD WAIT_MS = 60000;

int failures = 0;

bool check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "message_box_check: %s\n", what);
        ++failures;
    }
    return ok;
}

struct Search {
    DWORD process;
    HWND dialog;
};

BOOL CALLBACK find_dialog(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<Search*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    // Visible only once the dialog has set itself up (controls hidden or shown).
    if (owner == search->process && std::string(name) == "#32770" && IsWindowVisible(window)) {
        search->dialog = window;
        return FALSE;
    }
    return TRUE;
}

struct Control {
    HWND window;
    std::string kind, text;
    LONG style;
};

BOOL CALLBACK list_control(HWND window, LPARAM context) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    std::string text(static_cast<std::size_t>(GetWindowTextLengthA(window)) + 1, '\0');
    text.resize(static_cast<std::size_t>(GetWindowTextA(window, text.data(), static_cast<int>(text.size()))));
    reinterpret_cast<std::vector<Control>*>(context)->push_back(
        {window, name, text, GetWindowLongA(window, GWL_STYLE)});
    return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    check(GetACP() == 932, "the ANSI code page is not 932 (under Wine: LANG=ja_JP.UTF-8)");
    std::string line = "rekmo.exe host.bin out.csv " + MISSING_FORMAT;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(argv[1], line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        std::fprintf(stderr, "message_box_check: cannot start %s (%lu)\n", argv[1], GetLastError());
        return 1;
    }

    Search search{process.dwProcessId, nullptr};
    const ULONGLONG deadline = GetTickCount64() + WAIT_MS;
    while (search.dialog == nullptr && GetTickCount64() < deadline &&
           WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) {
        EnumWindows(find_dialog, reinterpret_cast<LPARAM>(&search));
        if (search.dialog == nullptr) Sleep(50);
    }
    if (!check(search.dialog != nullptr, "no dialog appeared")) {
        TerminateProcess(process.hProcess, 1);
        return 1;
    }
    check(WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT, "the program did not wait for the dialog");

    char title[256] = {};
    GetWindowTextA(search.dialog, title, sizeof title);
    check(std::string(title).empty(), "the title is not empty");
    check(GetWindow(search.dialog, GW_OWNER) == nullptr, "the dialog has an owner window");

    std::vector<Control> controls;
    EnumChildWindows(search.dialog, list_control, reinterpret_cast<LPARAM>(&controls));
    HWND ok = nullptr;
    int buttons = 0;
    bool text_found = false;
    for (const Control& control : controls) {
        const bool visible = (control.style & WS_VISIBLE) != 0;
        if (control.kind == "Button" && visible) {
            ++buttons;
            ok = control.window;
        } else if (control.kind == "Static" && (control.style & SS_TYPEMASK) == SS_ICON) {
            check(!visible || SendMessageA(control.window, STM_GETICON, 0, 0) == 0, "the dialog shows an icon");
        } else if (control.kind == "Static" && !control.text.empty()) {
            text_found = control.text == EXPECTED_TEXT;
        }
    }
    check(text_found, "the message text is not the expected one");
    check(buttons == 1, "the dialog does not have exactly one button");

    if (ok != nullptr)
        PostMessageA(search.dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(ok));
    const bool ended = WaitForSingleObject(process.hProcess, WAIT_MS) == WAIT_OBJECT_0;
    check(ended, "the program did not end after OK");
    if (!ended) TerminateProcess(process.hProcess, 1);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    check(code == EXPECTED_EXIT, "the exit code is not -1");
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    std::printf("message_box_check: %s\n", failures == 0 ? "the message box is as expected" : "FAILED");
    return failures == 0 ? 0 : 1;
}
