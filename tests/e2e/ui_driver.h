// Drives plcflash.exe from outside, as an engineer would: finds its window, reads the shown page,
// clicks the assistant's buttons, chooses the port, types the MAC and IP, and photographs each
// step. Everything goes through window messages Windows carries between processes; message
// boxes are answered by a BoxWatcher (ui_probe.h) running beside it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

enum class Page { None, Welcome, Port, MacIp, Jumper, Progress, Result };
const char* PageName(Page page);

struct ProcessFigures {
    uint64_t peakWorkingSet = 0;  // bytes
    double cpuSeconds = 0;        // user + kernel
    double wallSeconds = 0;
};

class UiDriver {
  public:
    ~UiDriver();

    // Starts `exe` in its own folder and waits for its first window (the assistant or a box).
    bool Launch(const std::string& exe, DWORD ms = 30000);
    DWORD Pid() const { return m_pi.dwProcessId; }
    HWND Window();
    std::string Title();

    Page ShownPage();
    // Waits for `page`; false on time-out or when the program has ended.
    bool WaitForPage(Page page, DWORD ms);
    // Text of a control of the shown page.
    std::string Text(int id);
    HWND Control(int id);
    bool Enabled(int buttonId);
    // Clicks an enabled button of the assistant (Back, Next, Finish, Cancel); false when it is
    // disabled, as a real click would do nothing.
    bool Click(int buttonId);
    // Waits until the button is enabled.
    bool WaitEnabled(int buttonId, DWORD ms);

    bool SelectPort(const std::string& port);
    std::string SelectedPort();
    // Types two hexadecimal digits into each MAC field, over what it held.
    void TypeMac(const std::string& twelveDigits);
    std::string Mac();  // "00:1A:2B:3C:4D:5E" as the fields show it
    void SetIp(uint32_t address);
    std::string Ip();  // "192.168.1.10", blank octets empty
    void SetChecked(int id, bool checked);
    bool Checked(int id);
    int ProgressPosition();

    // Saves the window as PREFIX-NN-`name`.bmp in the pictures folder, when one is set.
    void Shot(const std::string& name);
    void SetShotFolder(const std::string& folder, const std::string& prefix) {
        m_shots = folder;
        m_shotPrefix = prefix;
    }
    const std::string& ShotFolder() const { return m_shots; }
    const std::string& ShotPrefix() const { return m_shotPrefix; }

    bool WaitForExit(DWORD ms, DWORD* exitCode = nullptr);
    // Looks at `done` every 50 ms until it holds; false after `ms` or when the program ended.
    bool WaitUntil(const std::function<bool()>& done, DWORD ms);
    // Notes the running program's peak working set (Wine reports it only while it runs).
    void SampleMemory();
    // User and kernel time the program has used so far.
    double CpuSeconds();
    // Of the ended process: its times, and the largest peak sampled.
    ProcessFigures Figures();

  private:
    // A process that ended sooner than this after its creation did not get to start.
    static constexpr DWORD kQuickEndMs = 1000;
    HWND PageWindow();

    PROCESS_INFORMATION m_pi{};
    DWORD m_started = 0;
    std::string m_shots;
    std::string m_shotPrefix;

    int m_shotNumber = 0;
    uint64_t m_peakWorkingSet = 0;
};
