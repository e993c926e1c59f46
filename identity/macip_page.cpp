#include "identity/macip_page.h"

#include <commctrl.h>

#include "app/messages.h"
#include "app/tulm_app.h"
#include "app/tulm_frame.h"
#include "flash/controller_files.h"
#include "flash/math_thread.h"
#include "framework/text.h"
#include "pages/page_picture.h"
#include "res/resource.h"

const char kReadingText[] = "Подождите...";
const char kReadText[] = "\n\nMAC-адрес и IP, считанные из прибора:";
const char kFormatNoteText[] =
    "(Функция форматирования Flash-диска приведет к полной потере всех данных и программ. "
    "Рекомендуеться проводить форматирование только в случае сбоя в работе Flash-диска ПЛК, когда "
    "данные уже частично или полностью потеряны.) ";

namespace {
const int kMacIds[6] = {IDC_MAC1, IDC_MAC2, IDC_MAC3, IDC_MAC4, IDC_MAC5, IDC_MAC6};
}  // namespace

CThirdPage::CThirdPage() : CWorkerPage(IDD_MACIP) {}

CThirdPage::~CThirdPage() {
    EndWorkers();
}

void CThirdPage::EndWorkers() {
    CloseWindowBeforeWorker();
    DisposeEndedWorker(m_pEndedReader);
    m_pEndedReader = nullptr;
    StopAndDisposeWorker(m_pReader);
    m_pReader = nullptr;
}

BOOL CThirdPage::OnInitDialog() {
    CWorkerPage::OnInitDialog();
    m_StatusText = GetDlgItem(IDC_TEXT);
    for (int i = 0; i < 6; ++i)
        m_MacByte[i].Attach(GetDlgItem(kMacIds[i]), i < 5 ? &m_MacByte[i + 1] : nullptr);
    m_IpAddress = GetDlgItem(IDC_IP);
    m_SidePicture = GetDlgItem(IDC_PICTURE);
    m_FormatCheck = GetDlgItem(IDC_FORMAT);
    m_FormatWarning = GetDlgItem(IDC_FORMAT_NOTE);
    m_BackupNote = GetDlgItem(IDC_BACKUP_NOTE);
    ShowSidePicture(m_Picture, m_SidePicture);
    // Before the first reading can overwrite them: the data\calib.inc and data\local_addres.dat
    // found now are the user's.
    Keeper().TakeUserFiles();
    UseTextFont(m_StatusText);
    return TRUE;
}

void CThirdPage::OnPageShown() {
    EnableWindow(m_FormatWarning, FALSE);
    EnableWindow(m_FormatCheck, FALSE);
    SendMessageW(m_FormatCheck, BM_SETCHECK, BST_CHECKED, 0);
    m_pFrame->SetPageButtons(FALSE, false, FALSE, FALSE);
    SetWindowText1251(m_StatusText, kReadingText);
    // A reader that reported on an earlier showing may not have been disposed of yet.
    m_nPortProblem = 0;
    OnWorkerEnded();
    AcceptReports();
    m_pReader = new CReadThread(*this);
    m_pReader->SetDevice(theApp.m_strDevice);
    m_pReader->GetPortNumber();
    // Without its thread no report would ever come and the page would wait with every button
    // off: it reports the failure itself.
    if (!m_pReader->StartThread()) ReportIdentity(false, false);
}

std::string CThirdPage::GetSelectedPortText() {
    return ChosenPort();
}

void CThirdPage::ReportIdentity(bool identityFetched, bool calibrationFetched) {
    SendReport(identityFetched ? 1 : 0, calibrationFetched ? 1 : 0);
}

void CThirdPage::OnWorkerEnded() {
    DisposeEndedWorker(m_pEndedReader);
    m_pEndedReader = nullptr;
    if (m_nPortProblem == 0) return;
    // Typing the MAC from the sticker would not help: the run could not use the port either.
    const std::string text = m_nPortProblem == ResultOpenFailed
                                 ? std::string(kPortNotOpenedText)
                                 : PortLostMessage(m_strProblemPort, LostWhile::Reading);
    m_nPortProblem = 0;
    MessageBox1251(m_hWnd, text, "Ошибка", MB_OK | MB_ICONEXCLAMATION);
    if (CNewTulmPage* port = m_pFrame->GetPageByDialogID(IDD_PORT)) m_pFrame->SetActivePage(port);
}

CIdentityKeeper& CThirdPage::Keeper() {
    if (!m_pKeeper) {
        std::string root;
        const bool storage = AppStorageRoot(&root);
        m_pKeeper = std::make_unique<CIdentityKeeper>(root, storage);
    }
    return *m_pKeeper;
}

LRESULT CThirdPage::OnIdentityRead(WPARAM identityFetched, LPARAM calibrationFetched) {
    // The reader waits inside this report: what it read is taken from it, never from data\,
    // where another copy of the program may have put its own controller's files meanwhile.
    const CReadThread* reader = m_pReader;
    const std::string* identity = reader && identityFetched == 1 ? &reader->Identity() : nullptr;
    const std::string* calibration =
        reader && calibrationFetched == 1 ? &reader->Calibration() : nullptr;
    m_nPortProblem = !reader                   ? 0
                     : reader->PortNotOpened() ? int{ResultOpenFailed}
                     : reader->PortLost()      ? int{ResultPortLost}
                                               : 0;
    if (reader) m_strProblemPort = "COM" + std::to_string(reader->GetPortNumberValue());
    SetWindowText1251(m_StatusText, kNotReadText);
    m_bRead = false;
    m_strReadIdentity.clear();
    IdentityReading reading;
    if (identity && ParseIdentity(*identity, true, &reading)) {
        m_bRead = true;
        m_strReadIdentity = *identity;
        for (int i = 0; i < 6; ++i) {
            SetWindowText1251(m_MacByte[i].GetSafeHwnd(), reading.mac[static_cast<size_t>(i)]);
        }
        SendMessageW(m_IpAddress, IPM_SETADDRESS, 0, static_cast<LPARAM>(reading.ip));
        EnableWindow(m_FormatWarning, TRUE);
        SendMessageW(m_FormatCheck, BM_SETCHECK, BST_UNCHECKED, 0);
        EnableWindow(m_FormatCheck, TRUE);
        SetWindowText1251(m_StatusText, kReadText);
    } else {
        ShowNoIdentity();
    }
    // The reading is backed up before anything else can happen.
    const std::string folder =
        Keeper().OnReading(identity, m_bRead ? MacKey(GetMacFields()) : std::string(), calibration);
    std::string note = reader && reader->FolderNotUpdated() ? kDataNotUpdatedText : "";
    if (!folder.empty()) {
        note += "Копия: " + folder.substr(0, folder.size() - 1);
    } else if (m_bRead) {
        note += kBackupFailedText;
    }
    SetWindowText1251(m_BackupNote, note);
    UpdateFormatChoice();
    MoveFocus(m_MacByte[0].GetSafeHwnd());
    // The reader's thread is still inside this report: it is disposed of once it has ended.
    if (m_pReader) {
        m_pEndedReader = m_pReader;
        m_pReader = nullptr;
        PostWorkerEnded();
    }
    m_pFrame->SetPageButtons(TRUE, true, TRUE, FALSE);
    return 0;
}

void CThirdPage::ShowNoIdentity() {
    for (CMyEdit& field : m_MacByte) SetWindowText1251(field.GetSafeHwnd(), "");
    SendMessageW(m_IpAddress, IPM_CLEARADDRESS, 0, 0);
    IdentityReading user;
    const std::string* own = Keeper().UserIdentity();
    if (own && ParseIdentity(*own, false, &user)) {
        SendMessageW(m_IpAddress, IPM_SETADDRESS, 0, static_cast<LPARAM>(user.ip));
    }
}

bool CThirdPage::CalibrationAtRisk() const {
    return DeviceHasCalibration(theApp.m_strDevice) && m_pKeeper &&
           !m_pKeeper->KnowsCalibration(MacKey(GetMacFields()));
}

void CThirdPage::UpdateFormatChoice() {
    const bool atRisk = CalibrationAtRisk();
    SetWindowText1251(m_FormatWarning, atRisk ? kCalibrationAtRiskText : kFormatNoteText);
    // After a good reading the box stays as the user set it.
    if (m_bRead) return;
    const bool forced = !IsWindowEnabled(m_FormatCheck);
    if (atRisk && forced) {
        SendMessageW(m_FormatCheck, BM_SETCHECK, BST_UNCHECKED, 0);
        EnableWindow(m_FormatCheck, TRUE);
        EnableWindow(m_FormatWarning, TRUE);
    } else if (!atRisk && !forced) {
        SendMessageW(m_FormatCheck, BM_SETCHECK, BST_CHECKED, 0);
        EnableWindow(m_FormatCheck, FALSE);
        EnableWindow(m_FormatWarning, FALSE);
    }
}

void CThirdPage::FillIpFromBackup() {
    DWORD address = 0;
    std::string kept;
    IdentityReading reading;
    if (m_bRead || GetIpAddress(&address) != 0 ||
        !Keeper().BackedUpIdentity(MacKey(GetMacFields()), &kept) ||
        !ParseIdentity(kept, false, &reading)) {
        return;
    }
    SendMessageW(m_IpAddress, IPM_SETADDRESS, 0, static_cast<LPARAM>(reading.ip));
}

void CThirdPage::OnFormatClicked() {
    if (!IsFormatChecked() || !CalibrationAtRisk()) return;
    const int answer =
        MessageBox1251(m_hWnd, kFormatConfirmText, kEngineCaption + theApp.m_strDevice,
                       MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2);
    if (answer != IDYES) SendMessageW(m_FormatCheck, BM_SETCHECK, BST_UNCHECKED, 0);
}

bool CThirdPage::LoadIdentityFile(bool withMac) {
    IdentityReading reading;
    if (!::LoadIdentityFile(kIdentityFile, withMac, &reading)) return false;
    if (withMac) {
        for (int i = 0; i < 6; ++i) {
            SetWindowText1251(m_MacByte[i].GetSafeHwnd(), reading.mac[static_cast<size_t>(i)]);
        }
    }
    SendMessageW(m_IpAddress, IPM_SETADDRESS, 0, static_cast<LPARAM>(reading.ip));
    return true;
}

MacFields CThirdPage::GetMacFields() const {
    MacFields mac;
    for (int i = 0; i < 6; ++i) {
        mac[static_cast<size_t>(i)] = GetWindowText1251(m_MacByte[i].GetSafeHwnd());
    }
    return mac;
}

int CThirdPage::GetIpAddress(DWORD* address) const {
    return static_cast<int>(
        SendMessageW(m_IpAddress, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(address)));
}

std::string CThirdPage::GetDottedIp() const {
    DWORD address = 0;
    GetIpAddress(&address);
    return DottedIp(address);
}

std::string CThirdPage::ComposeRunIdentity() const {
    return ComposeIdentityOver(m_bRead ? m_strReadIdentity : std::string(), GetMacFields(),
                               GetDottedIp());
}

bool CThirdPage::SaveIdentityFile() {
    return ::SaveIdentityFile(kIdentityFile, ComposeRunIdentity());
}

bool CThirdPage::PrepareCalibrationFile() {
    return Keeper().PrepareCalibrationFile();
}

const std::string* CThirdPage::ChosenCalibration() const {
    return m_pKeeper ? m_pKeeper->Chosen() : nullptr;
}

std::string CThirdPage::DescribeReading() const {
    return std::string(m_bRead ? "считаны из контроллера" : "не считаны, введены вручную") +
           ", MAC " + MacText(GetMacFields()) + ", IP " + GetDottedIp();
}

std::string CThirdPage::BackupFolder() const {
    return m_pKeeper ? m_pKeeper->LatestBackup(MacKey(GetMacFields())) : std::string();
}

std::string CThirdPage::DescribeCalibration() const {
    return m_pKeeper ? m_pKeeper->DescribeSource() : "нет";
}

void CThirdPage::ConfirmIdentity() {
    const CalibrationSource source =
        Keeper().Confirm(MacKey(GetMacFields()), DeviceHasCalibration(theApp.m_strDevice));
    if (source != CalibrationSource::Backup) return;
    // The engineer must know that the file comes from a copy, and from which day, before the
    // controller is erased.
    const std::string folder = Keeper().RestoredFrom();
    MessageBox1251(
        m_hWnd,
        CalibrationFromBackupMessage(m_bRead, StampForUser(CBackupStore::StampOf(folder)), folder),
        kEngineCaption + theApp.m_strDevice, MB_OK | MB_ICONINFORMATION);
}

bool CThirdPage::IsFormatChecked() const {
    return SendMessageW(m_FormatCheck, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

bool CThirdPage::IsInputComplete() {
    for (const CMyEdit& field : m_MacByte) {
        if (GetWindowTextLengthW(field.GetSafeHwnd()) == 0) {
            MessageBox1251(m_hWnd, kNoMacText, "Ошибка", MB_OK | MB_ICONEXCLAMATION);
            return false;
        }
    }
    DWORD address = 0;
    if (GetIpAddress(&address) != 4) {
        MessageBox1251(m_hWnd, kNoIpText, "Ошибка", MB_OK | MB_ICONEXCLAMATION);
        return false;
    }
    ConfirmIdentity();
    return true;
}

void CThirdPage::MoveFocus(HWND target) {
    // WM_NEXTDLGCTL, unlike SetFocus, selects the whole text of the field it enters, so the
    // next two digits typed replace the byte.
    SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(target), TRUE);
}

int CThirdPage::MacIndexOf(HWND control) const {
    for (int i = 0; i < 6; ++i) {
        if (control && m_MacByte[i].GetSafeHwnd() == control) return i;
    }
    return -1;
}

void CThirdPage::MoveFocusPast(int index) {
    MoveFocus(index < 5 ? m_MacByte[index + 1].GetSafeHwnd() : m_IpAddress);
}

void CThirdPage::OnMacByteChanged(int index) {
    // Whether a calibration is known, and which IP this controller had, depend on the MAC
    // typed.
    if (m_pKeeper && !m_pReader) {
        UpdateFormatChoice();
        FillIpFromBackup();
    }
    if (GetWindowTextLengthW(m_MacByte[index].GetSafeHwnd()) == 2) MoveFocusPast(index);
}

BOOL CThirdPage::OnCommand(WPARAM wParam, LPARAM lParam) {
    if (LOWORD(wParam) == IDC_FORMAT && HIWORD(wParam) == BN_CLICKED) {
        OnFormatClicked();
        return TRUE;
    }
    if (HIWORD(wParam) == EN_CHANGE) {
        const int index = MacIndexOf(reinterpret_cast<HWND>(lParam));
        if (index >= 0) {
            OnMacByteChanged(index);
            return TRUE;
        }
    }
    return CWorkerPage::OnCommand(wParam, lParam);
}

BOOL CThirdPage::PreTranslateMessage(MSG* msg) {
    if (msg->message == WM_KEYDOWN && msg->wParam == VK_TAB) {
        // Shift is not looked at: Shift+Tab moves forward too.
        const int index = MacIndexOf(msg->hwnd);
        if (index >= 0) {
            MoveFocusPast(index);
            return TRUE;
        }
    }
    return CWorkerPage::PreTranslateMessage(msg);
}
