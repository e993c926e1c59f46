// One complete reflashing run: the loader twice and the kernel once through the boot loader's
// console, the two manual steps, optional formatting, then the data files.
#include "flash/controller_files.h"
#include "flash/crc32.h"
#include "flash/file_fetch.h"
#include "flash/math_thread.h"

namespace {

const char kImageRequest[] = "CCC";
const char kLoaderMenu[] =
    "Do you want to upload kernel ( K ) or bootloader ( B ) in Flash or load kernel in SDRAM "
    "( S )?";
const char kJumperNotice[] = "Be sure, what the bootloader`s BINARY less 12Kb!";
const char kEraseKernel[] = "Do you want to erase kernel area?";
const char kPowerCycle[] = "Please, turn off power and up it again!";
const char kKernelMenu[] = "Do you want to upload kernel in Flash( K ) or in SDRAM ( S )?";
const char kEraseFfs[] = "Do you want to erase FFS?";
const char kFormatDone[] = "Hard format completed!";
const char kBadPages[] = "bad pages";
const char kCoreStarted[] = "Loading PLC core completed!";

const char kImagesSent[] =
    "Передача файлов произошла удачно.\nПодождите пока произойдет настройка!";
const char kFormatting[] = "Идет форматирование!";

constexpr uint64_t kFormatOutputBytes = 6144;
constexpr uint32_t kCoreSettleMs = 3000;

void ReplaceAll(std::string* text, const std::string& from, const std::string& to) {
    for (size_t at = 0; (at = text->find(from, at)) != std::string::npos; at += to.size()) {
        text->replace(at, from.size(), to);
    }
}

}  // namespace

const char kEngineCaption[] = "Обновления прошивки ";
const char kRemoveJumperText[] = "Снимите джампер и нажмите OK!";
const char kPressResetText[] = "Нажмите Reset на ПЛК и затем OK! ";

std::string FormatReport(const std::string& received) {
    std::string report = received;
    const size_t start = report.find(kFormatDone);
    if (start != std::string::npos) report.erase(0, start);
    const size_t end = report.find(kBadPages);
    if (end != std::string::npos) report.erase(end + sizeof(kBadPages) - 1);
    ReplaceAll(&report, "Hard format completed! Found", "Форматирование завершено! Найдено");
    ReplaceAll(&report, kBadPages, "испорченной памяти!");
    return report;
}

void CMathThread::ShowEngineMessage(const std::string& text) {
    CSingleLock lock(m_EngineLock);
    Ui().ShowMessage(text, kEngineCaption + m_strDevice);
}

void CMathThread::ShowStatus(const std::string& text) {
    CSingleLock lock(m_EngineLock);
    Ui().SetStatusText(text);
}

void CMathThread::OpenCurrentImage(const char* path) {
    auto file = std::make_unique<CFile>();
    if (!file->Open(path, CFile::modeRead)) RaiseBadFile(path, FileFault::CannotOpen);
    m_pCurrentFile = std::move(file);
}

void CMathThread::CheckImageSums() {
    ImageFault fault;
    bool listChecked = false;
    const bool good = CheckImages(&m_ImageSums, &fault, &listChecked);
    for (const ImageSum& image : m_ImageSums) {
        RunLog().Note("Образ " + image.path, std::to_string(image.size) + " байт, CRC-32 " +
                                                 Crc32Text(image.crc32) + ", SHA-256 " +
                                                 image.sha256);
    }
    if (!good) {
        m_strExpectedSum = fault.expected;
        m_strActualSum = fault.actual;
        RaiseBadFile(fault.path, fault.fault);
    }
    RunLog().Note("Суммы образов", listChecked ? std::string("совпадают с ") + kImageSums
                                               : std::string("не проверены: нет ") + kImageSums);
}

void CMathThread::CheckBeforeFlashing() {
    RemovePartialCopies(kDataFolder);
    CheckImageSums();
    m_RunFiles = TakeDataFiles();
    for (const RunFile& file : m_RunFiles) {
        RunLog().Note(std::string("Файл ") + kDataFolder + file.name,
                      std::to_string(file.content.size()) + " байт, CRC-32 " +
                          Crc32Text(Crc32(file.content.data(), file.content.size())));
    }
}

uint32_t CMathThread::Run() {
    int code = ResultDone;
    try {
        // The controller loses its kernel at step 11: everything the run will need later is
        // checked, and every data byte taken, before the first byte goes out.
        CheckBeforeFlashing();
        RunLog().BeginPhase("загрузчик, первая передача");
        ClearReceived();
        OpenEnginePort();
        OpenCurrentImage(kKernelImage);
        m_nProgressTotal = m_pCurrentFile->GetLength();
        OpenCurrentImage(kLoaderImage);
        m_nProgressTotal += 2 * m_pCurrentFile->GetLength();

        WaitForText(kImageRequest);
        ClearReceived();
        SendImage();
        WaitForText(kLoaderMenu);
        SendAnswer('b');
        WaitForText(kJumperNotice);
        RunLog().BeginPhase("снятие джампера");
        ShowEngineMessage(kRemoveJumperText);

        RunLog().BeginPhase("загрузчик, вторая передача");
        ClearReceived();
        WaitForText(kImageRequest);
        OpenCurrentImage(kLoaderImage);
        SendImage();
        WaitForText(kEraseKernel);
        m_bKernelErased = true;
        SendAnswer('y');
        WaitForText(kPowerCycle);
        RunLog().BeginPhase("Reset");
        ShowEngineMessage(kPressResetText);
        RunLog().BeginPhase("ядро");
        WaitForText(kKernelMenu);
        SendAnswer('k');

        ClearReceived();
        WaitForText(kImageRequest);
        OpenCurrentImage(kKernelImage);
        SendImage();
        RunLog().BeginPhase("настройка");
        ShowStatus(kImagesSent);
        WaitForText(kEraseFfs);
        bool format;
        {
            CSingleLock lock(m_EngineLock);
            format = Ui().IsFormatChecked();
        }
        if (format) {
            RunLog().BeginPhase("форматирование");
            m_nProgressDone = 0;
            Ui().SetStatusText(kFormatting);
            m_nProgressTotal = kFormatOutputBytes;
            SendAnswer('y');
            WaitForTextCounting(kBadPages);
            const std::string report = FormatReport(m_strReceived);
            RunLog().Note("Отчет форматирования", report);
            ShowEngineMessage(report);
        } else {
            SendAnswer('n');
        }
        WaitForText(kPowerCycle);
        RunLog().BeginPhase("Reset");
        ShowEngineMessage(kPressResetText);
        RunLog().BeginPhase("запуск ядра");
        WaitForTextLenient(kCoreStarted);
        Pause(kCoreSettleMs);
        PurgePort(m_hPort);
        ClosePort(m_hPort);

        RunLog().BeginPhase("файлы data");
        SendRunFiles(m_RunFiles);
        RunLog().BeginPhase("проверка записи");
        CheckWrittenFiles(m_RunFiles);
        RunLog().EndPhase();
    } catch (int raised) {
        code = raised;
        RunLog().EndPhase(true);
        if (code == ResultPortLost) {
            RunLog().Note("Связь", "порт COM" + std::to_string(m_nPortNumber) + " потерян" +
                                       (m_bKernelErased ? ", ядро контроллера уже стерто"
                                                        : ", прежняя прошивка цела"));
        }
        m_pCurrentFile.reset();
        if (code != ResultOpenFailed && m_hPort) ClosePort(m_hPort);
    }
    // The page deletes the engine while this call is still inside its report: nothing of
    // the engine may be touched after it.
    Ui().ReportResult(code);
    return 0;
}
