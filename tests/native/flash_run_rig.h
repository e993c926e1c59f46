// A whole reflashing run of the engine against the simulated controller over a paced
// pseudo-terminal, on the engine's own thread as the progress page runs it.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "child_process.h"
#include "fakes.h"
#include "flash/math_thread.h"
#include "serial/comm_posix.h"
#include "sim/bootloader.h"
#include "sim/pty_pair.h"

inline std::string Pattern(size_t size, int salt) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 17 + salt + i / 253) & 0xFF);
    return s;
}

inline std::string Padded(std::string image) {
    image.resize((image.size() / 128 + 1) * 128, '\x1a');
    return image;
}

struct RunSetup {
    size_t loaderSize = 1500;
    size_t kernelSize = 5000;
    std::vector<std::pair<std::string, size_t>> data = {
        {"local_addres.dat", 40}, {"calib.inc", 700}, {"program.bin", 5000}};
    bool format = false;
    bool realClock = false;
    uint32_t simIdleMs = 5000;
    std::string device = "ПЛК-317";
    uint32_t stopAfterMs = 0;  // a stop this long after the start, unless the run ended
    BootOptions boot;
    // Called with the engine before its thread starts.
    std::function<void(CMathThread&)> prepare;
};

class FlashRun {
  public:
    explicit FlashRun(const RunSetup& setup) : m_setup(setup) {
        m_loader = Pattern(setup.loaderSize, 1);
        m_kernel = Pattern(setup.kernelSize, 2);
        std::ofstream("system/Floader.bin", std::ios::binary) << m_loader;
        std::ofstream("system/Ethernet.bin", std::ios::binary) << m_kernel;
        int salt = 10;
        for (const auto& [name, size] : setup.data) {
            m_data[name] = Pattern(size, ++salt);
            std::ofstream("data/" + name, std::ios::binary) << m_data[name];
        }
    }

    // Runs the engine on its own thread, as the progress page does; the result code.
    int Go() {
        PtyPair pty;
        EXPECT_TRUE(pty.Create(""));
        PacedLine line(pty.MasterFd(), LineTiming{});
        BootOptions boot = m_setup.boot;
        boot.requestIntervalMs = 300;  // over the engine's 200 ms read interval, as real ones are
        boot.manualStepMs = 50;
        boot.idleTimeoutMs = m_setup.simIdleMs;
        boot.filesFolder = m_folder.Path() + "/flash";
        BootLoader loader(line, boot);
        loader.SetObserver([this](const BootEvent& e) {
            std::lock_guard<std::mutex> lock(m_mutex);
            events.push_back(e.what + " " + e.detail);
            if (e.what == "image") images.emplace_back(e.data.begin(), e.data.end());
        });
        std::thread sim([&] { loader.Run(); });

        MapCommPort(71, pty.DevicePath());
        ui.port = "COM71";
        ui.format = m_setup.format;
        CMathThread engine(ui, SystemCommDriver(), m_setup.realClock ? SystemClock() : m_clock);
        engine.SetDevice(m_setup.device);
        engine.SetRunLog(log);
        if (m_setup.prepare) m_setup.prepare(engine);
        m_engine = &engine;
        EXPECT_TRUE(engine.StartThread());
        std::thread stopper;
        if (m_setup.stopAfterMs) {
            stopper = std::thread([&] {
                if (!engine.WaitThread(m_setup.stopAfterMs)) StopNow();
            });
        }
        EXPECT_TRUE(engine.WaitThread(120000));
        ended = std::chrono::steady_clock::now();
        if (stopper.joinable()) stopper.join();
        portLeftOpen = engine.HoldsPort();
        faultyFile = engine.GetFaultyFile();
        fault = engine.GetFault();
        m_engine = nullptr;
        sim.join();
        EXPECT_EQ(ui.results.size(), 1u);
        // The controller refuses what breaks its protocol, whatever the run's result.
        for (const auto& e : events) EXPECT_NE(e.rfind("error ", 0), 0u) << e;
        if (getenv("PLCFLASH_TEST_TRACE")) {
            for (const auto& e : events) fprintf(stderr, "sim: %s\n", e.c_str());
            for (const auto& m : ui.messages) fprintf(stderr, "box: %s\n", m.c_str());
            for (const auto& m : ui.statuses) fprintf(stderr, "status: %s\n", m.c_str());
        }
        return ui.results.empty() ? -1 : ui.results.back();
    }

    CMathThread* Engine() { return m_engine; }
    // On any thread: the user's Cancel.
    void StopNow() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (stopped) return;
            stopped = true;
            stoppedAt = std::chrono::steady_clock::now();
            eventsAtStop = events.size();
            boxesAtStop = ui.messages.size();
        }
        m_engine->RequestStop();
    }
    double StopToEndMs() const {
        return std::chrono::duration<double, std::milli>(ended - stoppedAt).count();
    }
    bool Saw(const std::string& event) {
        return std::find(events.begin(), events.end(), event) != events.end();
    }
    long Count(const std::string& event) { return std::count(events.begin(), events.end(), event); }
    std::string Stored(const std::string& name) {
        return ReadWholeFile(m_folder.Path() + "/flash/" + name);
    }
    const std::string& Folder() const { return m_folder.Path(); }

    RecordingUi ui;
    FakeClock m_clock;
    std::vector<std::string> events;
    std::vector<std::string> images;
    std::string faultyFile;
    FileFault fault = FileFault::None;
    bool stopped = false;
    std::chrono::steady_clock::time_point stoppedAt, ended;
    size_t eventsAtStop = 0;
    size_t boxesAtStop = 0;
    bool portLeftOpen = false;
    std::shared_ptr<CRunLog> log = std::make_shared<CRunLog>();
    std::string m_loader, m_kernel;
    std::map<std::string, std::string> m_data;

    void SetSetup(const RunSetup& setup) { m_setup = setup; }

  private:
    WorkFolder m_folder{"flash_run", "system data flash"};
    RunSetup m_setup;
    std::mutex m_mutex;
    CMathThread* m_engine = nullptr;
};
