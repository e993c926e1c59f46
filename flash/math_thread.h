// The flashing engine: one reflashing run on a thread of its own, talking to the controller's
// boot loader console, uploading images and writing the data files.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "flash/controller_files.h"
#include "flash/engine_ui.h"
#include "flash/file_fault.h"
#include "flash/image_check.h"
#include "flash/run_log.h"
#include "framework/file.h"
#include "framework/sync.h"
#include "serial/worker.h"

class CMathThread : public CMyThread {
  public:
    explicit CMathThread(IEngineUi& ui, CommDriver& driver = SystemCommDriver(),
                         IClock& clock = SystemClock());
    ~CMathThread() override;

    // The whole reflashing run, reported through IEngineUi::ReportResult.
    uint32_t Run() override;
    // The controller designation from plc.ini, for the captions of the engine's boxes.
    void SetDevice(const std::string& device) { m_strDevice = device; }
    // Where the run notes its phases; a log of its own unless given one.
    void SetRunLog(std::shared_ptr<CRunLog> log) { m_pLog = std::move(log); }
    CRunLog& RunLog() { return *m_pLog; }
    // The images opened and read through and checked against system\SHA256SUMS (CheckImages),
    // and the run's data files taken (TakeDataFiles) and noted with their sizes and CRC-32,
    // before anything is sent.
    void CheckBeforeFlashing();
    // The loader's and the kernel's sums, after CheckBeforeFlashing (as many as were taken).
    const std::vector<ImageSum>& ImageSums() const { return m_ImageSums; }

    // Console dialogue primitives.
    bool OpenEnginePort();
    void WaitForText(const std::string& text);
    void WaitForTextCounting(const std::string& text);
    // A read that times out with nothing received ends the wait after a 12 s pause.
    void WaitForTextLenient(const std::string& text);
    void SendAnswer(char letter);
    void ClearReceived();
    void ReportProgress(uint64_t count);

    // Image upload: sends the current file by XMODEM-CRC, then closes it; a stop cancels the
    // upload with CAN CAN.
    bool SendImage();
    void BuildBlock();

    // The files this run writes in place of data's files of the same name: the identity file
    // composed from the page's fields, the calibration chosen for this controller. A null
    // `content` keeps the name out of the run even when data holds such a file (a calibration
    // that belongs to another controller).
    void SetOwnFile(const std::string& name, const std::string* content);
    // Every byte the run will write, taken at once: the own files and every other file of
    // `data` (file-system order, own files in place of theirs or after them), each opened and
    // read through and its name checked; raises ResultBadFile otherwise.
    RunFiles TakeDataFiles();
    // Takes the data files and writes them, each over its own opening of the port; returns
    // them.
    RunFiles SendDataFolder();
    void SendRunFiles(const RunFiles& files);
    // Reads the identity file (and the 317/318's calibration file) back from the controller
    // when they were among `sent`: a file unlike what was sent is written once more and read
    // again; still unlike it, or unreadable, raises ResultCheckFailed.
    void CheckWrittenFiles(const RunFiles& sent);
    void SendDataFile(const RunFile& file);
    // A file by path, read whole first (the console tool's write-file).
    void SendDataFile(const std::string& path);
    // Opens and reads `path` through once for its size, CRC-32 and SHA-256; raises
    // ResultBadFile when it cannot.
    ImageSum CheckFile(const std::string& path);
    // CheckFile, and the name must fit the command packet.
    void CheckDataFile(const std::string& path);
    // After ResultBadFile: which file, and what is wrong with it.
    const std::string& GetFaultyFile() const { return m_strFaultyFile; }
    FileFault GetFault() const { return m_Fault; }
    // The fault in English words, for the console tool.
    const char* GetFaultReason() const { return FileFaultReason(m_Fault); }
    // After SumMismatch: the sum system\SHA256SUMS publishes; after SumMismatch and NotInSums:
    // the image's own.
    const std::string& GetExpectedSum() const { return m_strExpectedSum; }
    const std::string& GetActualSum() const { return m_strActualSum; }

    const std::string& GetReceived() const { return m_strReceived; }
    // The controller has been told to erase its kernel: from here on it waits in its boot
    // loader until a run completes.
    bool KernelErased() const { return m_bKernelErased; }
    uint64_t GetProgressDone() const { return m_nProgressDone; }
    void SetCurrentFile(std::unique_ptr<CFile> file) { m_pCurrentFile = std::move(file); }
    bool HasCurrentFile() const { return m_pCurrentFile != nullptr; }
    bool HoldsPort() const { return m_hPort != nullptr; }
    void SetProgressTotal(uint64_t total) { m_nProgressTotal = total; }

    static constexpr uint32_t kReadChunk = 80;
    // What the console waits keep of the text: far more than any awaited text or the format
    // report, far less than what a controller left talking prints.
    static constexpr size_t kReceivedKept = 64 * 1024;
    static constexpr uint32_t kLenientPauseMs = 12000;

  protected:
    void ShowProgressPosition();
    IEngineUi& Ui() { return m_Ui; }

    uint64_t m_nProgressDone = 0;
    uint64_t m_nProgressTotal = 100;
    CCriticalSection m_EngineLock;
    HPORT m_hPort = nullptr;
    std::unique_ptr<CFile> m_pCurrentFile;
    std::string m_strReceived;
    uint8_t m_Block[133] = {};
    bool m_bMoreData = true;
    uint8_t m_nBlockNumber = 0;
    bool m_bKernelErased = false;

  private:
    void ShowEngineMessage(const std::string& text);
    void ShowStatus(const std::string& text);
    void CheckWrittenFile(const RunFile& file);
    // One file read back with the reader's retry; false when it could not be read.
    bool ReadBack(const std::string& name, std::string* content);
    [[noreturn]] void RaiseCheckFailed(const std::string& path, FileFault fault);
    void OpenCurrentImage(const char* path);
    // CheckImages for the run: the sums noted in the log; raises ResultBadFile on a fault.
    void CheckImageSums();
    [[noreturn]] void RaiseBadFile(const std::string& path, FileFault fault);
    // Raises ResultBadFile when the name of `path` does not fit the command packet.
    void CheckNameFits(const std::string& path);
    // The whole file at `path`; raises ResultBadFile when it cannot be opened or read.
    std::string ReadWholeFile(const std::string& path);
    void StepPacketProgress();
    // Sends one packet until a reply accepts it; the fourth send raises 3 unexamined.
    void SendPacket(uint16_t seq, bool last, const uint8_t* payload, size_t size);
    void WriteControl(uint16_t seq);
    void SegmentHandshake();
    void EndHandshake();
    uint8_t ReadReplyByte();
    // Reads the reply to the block just sent; resends on NAK, raises on CAN or the third NAK.
    void AwaitBlockAccepted(int* refusals);
    void WaitForTextImpl(const std::string& text, bool counting);
    bool SendImageBlocks();

    IEngineUi& m_Ui;
    std::shared_ptr<CRunLog> m_pLog = std::make_shared<CRunLog>();
    std::string m_strDevice;
    std::string m_strFaultyFile;
    FileFault m_Fault = FileFault::None;
    std::vector<ImageSum> m_ImageSums;
    std::string m_strExpectedSum;
    std::string m_strActualSum;
    struct OwnFile {
        std::string name;
        bool present = false;
        std::string content;
    };
    std::vector<OwnFile> m_OwnFiles;
    RunFiles m_RunFiles;
};

// The format report from the console text: "Hard format completed! Found 2 bad pages" becomes
// "Форматирование завершено! Найдено 2 испорченной памяти!".
std::string FormatReport(const std::string& received);

// The caption of the engine's boxes, followed by the designation.
extern const char kEngineCaption[];
// The two manual steps' boxes: the user acts on the controller, then confirms.
extern const char kRemoveJumperText[];
extern const char kPressResetText[];

// The engine of the current run, null when there is none; Cancel signals its stop event.
extern CMathThread* g_pMathThread;
