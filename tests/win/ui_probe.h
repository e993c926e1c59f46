// Looking at windows from outside: message boxes (found, read, answered), control texts and
// pictures of windows. Works on windows of this process and of another one alike, so the tests
// and the UI driver share it.
#pragma once

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Text of any window, through WM_GETTEXT (which Windows carries across processes).
std::string WindowText(HWND hwnd);

// The first visible top-level window of process `pid` that `accept` takes; null when none.
HWND FindTopWindow(DWORD pid, bool (*accept)(HWND));

// A visible message box of process `pid`, null when none is shown.
HWND FindMessageBox(DWORD pid);

struct SeenBox {
    std::string caption;
    std::string text;
};

// Reads the box and presses its OK button (or the button `answer`, IDYES of a Yes/No box).
SeenBox AnswerMessageBox(HWND box, int answer = IDOK);

// The window as it is on the screen, as a 24-bit BMP file.
bool SaveWindowPicture(HWND hwnd, const std::string& path);

// Answers every message box of a process from a thread of its own and keeps what they said.
// `onBox` runs on that thread before the box is answered, while the box is still on screen.
class BoxWatcher {
  public:
    explicit BoxWatcher(DWORD pid = GetCurrentProcessId(), void (*onBox)(void*) = nullptr,
                        void* context = nullptr);
    ~BoxWatcher();
    std::vector<SeenBox> Boxes();
    // The button pressed from now on (IDOK unless told).
    void SetAnswer(int answer) { m_answer = answer; }
    // From now on each box is pictured before it is answered, as `folder\prefix-box-N.bmp`:
    // what the boxes look like goes into the pictures of the user's documentation.
    void PictureBoxes(const std::string& folder, const std::string& prefix);
    // Waits (bounded) until `count` boxes have been answered.
    bool WaitForBoxes(size_t count, DWORD ms);

  private:
    void Watch();

    DWORD m_pid;
    void (*m_onBox)(void*);
    void* m_context;
    std::atomic<int> m_answer{IDOK};
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<SeenBox> m_boxes;
    std::string m_pictures;  // folder\prefix-box-, empty: no pictures
    bool m_stop = false;
    std::thread m_thread;
};
