#include "cli/port_update.h"

#include <ctime>

#include "cli/result_text.h"
#include "flash/file_fetch.h"
#include "framework/file.h"

namespace {

// The jumper page's step: after the reading, the controller is put into its boot loader.
const char kSetJumperText[] =
    "Установите джампер на средней плате в положение программирования и нажмите кнопку Reset "
    "(низкая кнопка на верхней плате)";

const char* const kReadingPhase = "чтение MAC/IP";
const char* const kBootLoaderPhase = "джампер и Reset";

}  // namespace

uint32_t CPortUpdate::Runner::Run() {
    m_Owner.Flow();
    return 0;
}

CPortUpdate::CPortUpdate(std::string port, const UpdateSettings& settings, CPromptDesk& desk,
                         MacFields givenMac)
    : m_strPort(std::move(port)),
      m_strPortEntry(CommPortEntry(m_strPort)),
      m_Settings(settings),
      m_Desk(desk),
      m_GivenMac(std::move(givenMac)),
      m_Runner(*this),
      m_Engine(*this),
      m_Keeper(settings.storageRoot, settings.storageOk) {
    m_Row.port = m_strPort;
    m_Record.port = m_strPort;
    m_Row.step = "ожидание";
    m_pLog->SetPhaseListener([this](const std::string& phase) { SetStep(phase); });
}

CPortUpdate::~CPortUpdate() {
    // Every read and write of both workers is bounded, and a stop ends them at once.
    RequestStop();
    m_Runner.WaitThread(kWaitForever);
}

bool CPortUpdate::Start() {
    m_Start = std::chrono::steady_clock::now();
    m_Record.started = std::time(nullptr);
    if (m_Runner.StartThread()) return true;
    End(ResultIoError, "no thread could be started for the port");
    return false;
}

void CPortUpdate::RequestStop() {
    m_Runner.RequestStop();
    m_Engine.RequestStop();
}

bool CPortUpdate::Wait(uint32_t ms) {
    return m_Runner.WaitThread(ms);
}

PortRow CPortUpdate::Row() const {
    CSingleLock lock(m_RowLock);
    PortRow row = m_Row;
    if (!row.ended) {
        row.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - m_Start).count();
    }
    return row;
}

void CPortUpdate::SetStep(const std::string& step) {
    CSingleLock lock(m_RowLock);
    m_Row.step = step;
    m_Row.percent = -1;
}

void CPortUpdate::SetProgressPos(uint32_t position) {
    CSingleLock lock(m_RowLock);
    m_Row.percent = static_cast<int>(position > 100 ? 100 : position);
}

void CPortUpdate::SetProgressSteps(uint32_t upper) {
    m_nUpper = upper;
    m_nSteps = 0;
    SetProgressPos(0);
}

void CPortUpdate::StepProgress() {
    ++m_nSteps;
    SetProgressPos(m_nUpper ? static_cast<uint32_t>(uint64_t{m_nSteps} * 100 / m_nUpper) : 100);
}

void CPortUpdate::ShowMessage(const std::string& text, const std::string&) {
    // The manual steps wait for the user; the format report is in the run log.
    if (text == kRemoveJumperText || text == kPressResetText) {
        m_Desk.Ask(m_strPort, text, m_Engine.StopSignal());
    }
}

void CPortUpdate::Flow() {
    m_Record.program = "plcflash-cli update";
    m_Record.model = m_Settings.device;
    m_Record.images = m_Settings.images;
    m_Record.formatAsked = m_Settings.format;
    m_Record.computer = m_Settings.computer;
    if (m_Settings.userFiles) m_Keeper.TakeUserFiles();
    m_pLog->Note("Контроллер", m_Settings.device + ", версия " + m_Settings.version);
    m_pLog->Note("Порт", m_strPort);
    if (!ReadController() || !DecideIdentity()) return;
    m_pLog->BeginPhase(kBootLoaderPhase);
    if (!m_Desk.Ask(m_strPort, kSetJumperText, m_Runner.StopSignal())) {
        m_pLog->EndPhase(true);
        End(ResultStopped, EngineFailure(m_Engine, ResultStopped));
        return;
    }
    RunEngine();
}

bool CPortUpdate::ReadController() {
    m_pLog->BeginPhase(kReadingPhase);
    m_Runner.GetPortNumber();
    CFileFetch fetch(m_Runner);
    const int port = m_Runner.GetPortNumberValue();
    m_nReadResult = fetch.FetchWithRetry(port, kIdentityName, &m_strIdentity);
    m_bIdentityFetched = m_nReadResult == ResultDone;
    if (!m_bIdentityFetched) m_strIdentity.clear();
    const bool portGone = m_nReadResult == ResultOpenFailed || m_nReadResult == ResultPortLost;
    if (m_nReadResult != ResultStopped && !portGone && DeviceHasCalibration(m_Settings.device)) {
        const int result = fetch.FetchWithRetry(port, kCalibrationName, &m_strCalibration);
        m_bCalibrationFetched = result == ResultDone;
        if (!m_bCalibrationFetched) m_strCalibration.clear();
        if (result == ResultStopped || result == ResultPortLost) m_nReadResult = result;
    }
    m_bRead = m_bIdentityFetched && ParseIdentity(m_strIdentity, true, &m_Reading);
    // Backed up before anything else can happen, as the assistant does.
    const std::string folder = m_Keeper.OnReading(
        m_bIdentityFetched ? &m_strIdentity : nullptr, m_bRead ? MacKey(m_Reading.mac) : "",
        m_bCalibrationFetched ? &m_strCalibration : nullptr);
    if (!folder.empty()) m_pLog->Note("Резервная копия", folder);
    m_pLog->EndPhase(m_nReadResult != ResultDone);
    switch (m_nReadResult) {
        case ResultStopped:
            End(ResultStopped, EngineFailure(m_Engine, ResultStopped));
            return false;
        case ResultOpenFailed:
            End(ResultOpenFailed,
                "the port could not be opened: another program holds it, or it is gone");
            return false;
        case ResultPortLost:
            End(ResultPortLost,
                "the port went away while the controller was read; its firmware is untouched");
            return false;
        default:
            return true;
    }
}

bool CPortUpdate::DecideIdentity() {
    MacFields mac;
    std::string ip;
    std::string how;
    if (m_bRead) {
        mac = m_Reading.mac;
        ip = DottedIp(m_Reading.ip);
        how = "считаны из контроллера";
    } else if (!MacKey(m_GivenMac).empty()) {
        mac = m_GivenMac;
        std::string kept;
        IdentityReading backedUp;
        if (m_Keeper.BackedUpIdentity(MacKey(mac), &kept) &&
            ParseIdentity(kept, false, &backedUp)) {
            ip = DottedIp(backedUp.ip);
            how = "MAC из --mac, IP из резервной копии";
        } else if (const std::string* own = m_Keeper.UserIdentity();
                   own && ParseIdentity(*own, false, &backedUp)) {
            ip = DottedIp(backedUp.ip);
            how = "MAC из --mac, IP из data\\local_addres.dat";
        }
    }
    std::string reason;
    if (!m_bRead && MacKey(m_GivenMac).empty()) {
        reason = m_bIdentityFetched ? "the controller's local_addres.dat holds no MAC"
                                    : "the controller's MAC/IP could not be read (result code " +
                                          std::to_string(m_nReadResult) + ")";
        reason += ": give --mac PORT=MAC to flash it from its backup; nothing was sent";
    } else if (ip.empty()) {
        reason = "no backup of MAC " + MacText(m_GivenMac) + " holds its IP; nothing was sent";
    }
    // The controller's own reading decides over a MAC typed for it.
    if (m_bRead && !MacKey(m_GivenMac).empty() && MacKey(m_GivenMac) != MacKey(mac)) {
        m_pLog->Note("--mac",
                     MacText(m_GivenMac) + " не взят: из контроллера считан " + MacText(mac));
    }
    if (!reason.empty()) {
        End(m_nReadResult == ResultDone ? ResultProtocol : m_nReadResult, reason);
        return false;
    }
    {
        CSingleLock lock(m_RowLock);
        m_Row.mac = MacText(mac);
    }
    m_Record.mac = MacText(mac);
    m_Record.ip = ip;
    const bool hasCalibration = DeviceHasCalibration(m_Settings.device);
    m_Keeper.Confirm(MacKey(mac), hasCalibration);
    // A failed reading forces formatting, as the assistant does, unless it would erase the only
    // calibration file there is: the one on the controller.
    const bool atRisk = hasCalibration && !m_Keeper.KnowsCalibration(MacKey(mac));
    m_bFormat = m_Settings.format || (!m_bRead && !atRisk);
    m_strRunIdentity = ComposeIdentityOver(m_bRead ? m_strIdentity : std::string(), mac, ip);
    m_Record.calibration = m_Keeper.DescribeSource();
    m_Record.formatAsked = m_bFormat;
    m_pLog->Note("MAC и IP", how + ": MAC " + MacText(mac) + ", IP " + ip);
    m_pLog->Note("Калибровка", m_Record.calibration);
    m_pLog->Note("Форматирование", m_bFormat ? "запрошено" : "не запрошено");
    return true;
}

void CPortUpdate::RunEngine() {
    m_Engine.SetDevice(m_Settings.device);
    m_Engine.SetRunLog(m_pLog);
    m_Engine.SetOwnFile(kIdentityName, &m_strRunIdentity);
    m_Engine.SetOwnFile(kCalibrationName, m_Keeper.Chosen());
    // On this port's thread: the engine is the rest of the flow, not a thread of its own.
    m_Engine.Run();
    End(m_nEngineResult, EngineFailure(m_Engine, m_nEngineResult));
}

void CPortUpdate::End(int code, const std::string& reason) {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_Start).count();
    m_Record.phase = m_pLog->LastPhase();
    m_Record.result = code;
    m_Record.message = code == ResultDone ? "успех" : reason;
    m_Record.seconds = seconds;
    m_pLog->Note("Результат", std::to_string(code));
    if (!reason.empty()) m_pLog->Note("Сообщение", reason);
    CSingleLock lock(m_RowLock);
    m_Row.ended = true;
    m_Row.succeeded = code == ResultDone;
    m_Row.reason = reason;
    m_Row.seconds = seconds;
    m_Row.percent = -1;
    m_Row.step = code == ResultDone ? "готово" : "ошибка";
}
