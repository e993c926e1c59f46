#include "ui_driver.h"

#include <commctrl.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>

#include "framework/text.h"
#include "res/resource.h"
#include "ui_probe.h"

namespace {

constexpr DWORD kLook = 50;           // how often a wait looks again
constexpr DWORD kClickWaitMs = 5000;  // how long a click waits for its button to be enabled

bool IsAssistant(HWND hwnd) {
    return GetDlgItem(hwnd, ID_WIZNEXT) != nullptr;
}

struct PageSearch {
    HWND found;
};

BOOL CALLBACK FindShownPage(HWND hwnd, LPARAM lParam) {
    auto* search = reinterpret_cast<PageSearch*>(lParam);
    wchar_t cls[16] = {};
    GetClassNameW(hwnd, cls, 16);
    if (IsWindowVisible(hwnd) && std::wstring(cls) == L"#32770") {
        search->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

double Seconds(const FILETIME& t) {
    ULARGE_INTEGER v;
    v.LowPart = t.dwLowDateTime;
    v.HighPart = t.dwHighDateTime;
    return static_cast<double>(v.QuadPart) / 1e7;
}

}  // namespace

const char* PageName(Page page) {
    static const char* const kNames[] = {"none",   "welcome",  "port",  "macip",
                                         "jumper", "progress", "result"};
    return kNames[static_cast<int>(page)];
}

UiDriver::~UiDriver() {
    if (m_pi.hProcess) {
        // A scenario that failed half-way must not leave the program behind for the next.
        if (WaitForSingleObject(m_pi.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(m_pi.hProcess, 99);
            WaitForSingleObject(m_pi.hProcess, 10000);
        }
        CloseHandle(m_pi.hProcess);
        CloseHandle(m_pi.hThread);
    }
}

bool UiDriver::Launch(const std::string& exe, DWORD ms) {
    const std::string folder = exe.substr(0, exe.find_last_of('\\'));
    for (int attempt = 1;; ++attempt) {
        std::wstring command = L"\"" + Widen1251(exe) + L"\"";
        STARTUPINFOW si{};
        si.cb = sizeof(si);
        if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                            Widen1251(folder).c_str(), &si, &m_pi)) {
            std::fprintf(stderr, "launch: CreateProcessW failed, error %lu\n", GetLastError());
            return false;
        }
        m_started = GetTickCount();
        WaitForInputIdle(m_pi.hProcess, ms);
        if (WaitUntil([this] { return Window() || FindMessageBox(Pid()); }, ms)) return true;
        // Said, so that a program that ended at its start is told from one that showed nothing.
        DWORD code = 0;
        GetExitCodeProcess(m_pi.hProcess, &code);
        const DWORD lived = GetTickCount() - m_started;
        std::fprintf(stderr, "launch: no window after %lu ms, exit code 0x%lX\n", lived, code);
        // A process gone within moments of its creation, with neither window nor box, did not
        // get to start (seen once in many runs under Wine): it is started once more, and a
        // program that really cannot start fails the second time as well. One still running
        // is left to the destructor, which ends it.
        const bool gone = WaitForSingleObject(m_pi.hProcess, 0) == WAIT_OBJECT_0;
        if (!gone || lived > kQuickEndMs || attempt == 2) return false;
        CloseHandle(m_pi.hProcess);
        CloseHandle(m_pi.hThread);
        m_pi = PROCESS_INFORMATION{};
    }
}

bool UiDriver::WaitUntil(const std::function<bool()>& done, DWORD ms) {
    for (DWORD waited = 0;; waited += kLook) {
        if (done()) return true;
        if (waited >= ms) return false;
        if (WaitForSingleObject(m_pi.hProcess, kLook) == WAIT_OBJECT_0) return false;
    }
}

HWND UiDriver::Window() {
    return FindTopWindow(Pid(), &IsAssistant);
}

std::string UiDriver::Title() {
    return WindowText(Window());
}

HWND UiDriver::PageWindow() {
    PageSearch search{nullptr};
    HWND window = Window();
    if (window) EnumChildWindows(window, &FindShownPage, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

Page UiDriver::ShownPage() {
    HWND page = PageWindow();
    if (!page) return Page::None;
    // Each page is known by a control only it has.
    if (GetDlgItem(page, IDC_PORT_LIST)) return Page::Port;
    if (GetDlgItem(page, IDC_MAC1)) return Page::MacIp;
    if (GetDlgItem(page, IDC_PICTURE_JUMPER)) return Page::Jumper;
    if (GetDlgItem(page, IDC_PROGRESS)) return Page::Progress;
    if (GetDlgItem(page, IDC_PICTURE_RESULT)) return Page::Result;
    return Page::Welcome;
}

bool UiDriver::WaitForPage(Page page, DWORD ms) {
    return WaitUntil([this, page] { return ShownPage() == page; }, ms);
}

HWND UiDriver::Control(int id) {
    return GetDlgItem(PageWindow(), id);
}

std::string UiDriver::Text(int id) {
    return WindowText(Control(id));
}

bool UiDriver::Enabled(int buttonId) {
    return IsWindowEnabled(GetDlgItem(Window(), buttonId)) != FALSE;
}

bool UiDriver::Click(int buttonId) {
    // A page just shown may enable its buttons a moment after it appears, and on a loaded
    // machine that moment grows: the driver waits for the button as a user would, bounded.
    if (!WaitEnabled(buttonId, kClickWaitMs)) return false;
    HWND button = GetDlgItem(Window(), buttonId);
    if (!button) return false;
    // Posted, as a click is: a box the click opens must not hold the driver.
    PostMessageW(Window(), WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
    return true;
}

bool UiDriver::WaitEnabled(int buttonId, DWORD ms) {
    return WaitUntil([this, buttonId] { return Enabled(buttonId); }, ms);
}

bool UiDriver::SelectPort(const std::string& port) {
    const std::wstring name = Widen1251(port);
    return SendMessageW(Control(IDC_PORT_LIST), CB_SELECTSTRING, static_cast<WPARAM>(-1),
                        reinterpret_cast<LPARAM>(name.c_str())) != CB_ERR;
}

std::string UiDriver::SelectedPort() {
    return WindowText(Control(IDC_PORT_LIST));
}

void UiDriver::TypeMac(const std::string& twelveDigits) {
    const int ids[] = {IDC_MAC1, IDC_MAC2, IDC_MAC3, IDC_MAC4, IDC_MAC5, IDC_MAC6};
    for (int i = 0; i < 6; ++i) {
        HWND field = Control(ids[i]);
        SendMessageW(field, EM_SETSEL, 0, -1);
        for (int k = 0; k < 2; ++k) {
            SendMessageW(field, WM_CHAR, static_cast<WPARAM>(twelveDigits[i * 2 + k]), 0);
        }
    }
}

std::string UiDriver::Mac() {
    std::string mac;
    for (int id = IDC_MAC1; id <= IDC_MAC6; ++id) {
        if (!mac.empty()) mac += ':';
        mac += Text(id);
    }
    return mac;
}

void UiDriver::SetIp(uint32_t address) {
    SendMessageW(Control(IDC_IP), IPM_SETADDRESS, 0, static_cast<LPARAM>(address));
}

std::string UiDriver::Ip() {
    // IPM_GETADDRESS answers through a pointer, which does not cross processes: the four
    // octet fields are read instead.
    std::string ip;
    int n = 0;
    for (HWND octet = GetWindow(Control(IDC_IP), GW_CHILD); octet;
         octet = GetWindow(octet, GW_HWNDNEXT), ++n) {
        if (n) ip += '.';
        ip += WindowText(octet);
    }
    return ip;
}

void UiDriver::SetChecked(int id, bool checked) {
    SendMessageW(Control(id), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool UiDriver::Checked(int id) {
    return SendMessageW(Control(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

int UiDriver::ProgressPosition() {
    return static_cast<int>(SendMessageW(Control(IDC_PROGRESS), PBM_GETPOS, 0, 0));
}

void UiDriver::Shot(const std::string& name) {
    if (m_shots.empty()) return;
    HWND window = Window();
    if (!window) return;
    SetForegroundWindow(window);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    Sleep(300);  // the program's own thread paints
    char number[8];
    std::snprintf(number, sizeof(number), "%02d-", ++m_shotNumber);
    SaveWindowPicture(window, m_shots + "\\" + m_shotPrefix + "-" + number + name + ".bmp");
}

bool UiDriver::WaitForExit(DWORD ms, DWORD* exitCode) {
    if (WaitForSingleObject(m_pi.hProcess, ms) != WAIT_OBJECT_0) return false;
    if (exitCode) GetExitCodeProcess(m_pi.hProcess, exitCode);
    return true;
}

void UiDriver::SampleMemory() {
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof(memory);
    if (GetProcessMemoryInfo(m_pi.hProcess, &memory, sizeof(memory))) {
        const uint64_t peak = std::max<uint64_t>(memory.PeakWorkingSetSize, memory.WorkingSetSize);
        if (peak > m_peakWorkingSet) m_peakWorkingSet = peak;
    }
}

double UiDriver::CpuSeconds() {
    FILETIME created, ended, kernel, user;
    if (!GetProcessTimes(m_pi.hProcess, &created, &ended, &kernel, &user)) return 0;
    return Seconds(kernel) + Seconds(user);
}

ProcessFigures UiDriver::Figures() {
    ProcessFigures figures;
    figures.peakWorkingSet = m_peakWorkingSet;
    FILETIME created, ended, kernel, user;
    if (GetProcessTimes(m_pi.hProcess, &created, &ended, &kernel, &user)) {
        figures.cpuSeconds = Seconds(kernel) + Seconds(user);
        figures.wallSeconds = Seconds(ended) - Seconds(created);
    }
    return figures;
}
