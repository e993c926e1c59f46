#include "app/messages.h"

#include <algorithm>

#include "flash/image_check.h"
#include "flash/math_thread.h"

const char kPlcIniMissingText[] = "Невозможно открыть файл plc.ini";
const char kNoMacText[] = "Не ввели MAC адрес!";
const char kNoIpText[] = "Не ввели IP!";
const char kPortNotOpenedText[] = "Не удалось открыть com порт!";
const char kNoAnswerText[] = "Контроллер не отвечает!";
const char kUnknownErrorText[] = "Неизвестная ошибку!";
const char kOtherErrorsText[] = "Возникли ошибки, попробуйте еще раз.";
// The first "МАС" is in Cyrillic letters, the second in Latin ones, as the users know it.
const char kNotReadText[] =
    "Считать данные из ПЛК не удалось. Введите МАС-адрес и IP прошиваемого ПЛК (MAC-адрес указан "
    "на наклейке на корпусе контроллера)";
const char kCalibrationAtRiskText[] =
    "(Копии файла калибровки calib.inc этого контроллера у программы нет. Форматирование сотрет "
    "его в контроллере, и восстановить его будет нельзя. Не форматируйте память, если контроллер "
    "работал.)";
const char kFormatConfirmText[] =
    "Копии файла калибровки calib.inc этого контроллера нет. Форматирование сотрет его, и "
    "восстановить его будет нельзя.\n\nФорматировать память?";
const char kDataNotUpdatedText[] = "Папка data закрыта для записи. ";
const char kBackupFailedText[] = "Сохранить копию данных контроллера не удалось.";
const char kFlashingFromMemoryText[] =
    "Идет прошивка прибора!\nПапку data обновить не удалось: в контроллер записываются файлы из "
    "памяти программы.";
const char kTraceNamedText[] = "\n\nЗапись обмена с контроллером для службы поддержки: ";

namespace {

// Every fault found before the first byte goes out: the controller sits in its boot loader
// with its old firmware whole, and the reading needs that firmware running again.
const char kNothingSent[] =
    " В контроллер ничего не передано, его прошивка цела. Снимите джампер, нажмите Reset и "
    "начните заново с первой страницы.";

std::string SumsFaultMessage(const RunOutcome& outcome) {
    const std::string& file = outcome.file;
    const std::string retake = "Возьмите образы и SHA256SUMS заново из выпуска программы.";
    switch (outcome.fault) {
        case FileFault::SumMismatch:
            return "Файл " + file + " не совпадает с опубликованным.\nSHA-256 в " + kImageSums +
                   ":\n" + outcome.expectedSum + "\nSHA-256 файла:\n" + outcome.actualSum +
                   "\nОбраз поврежден или это не тот образ, что выпущен. " + retake;
        case FileFault::NotInSums:
            return "Файла " + file + " нет в списке " + kImageSums + " (SHA-256 файла:\n" +
                   outcome.actualSum + ").\nЭто не тот образ, что выпущен, или список неполон. " +
                   retake;
        case FileFault::SumsMalformed:
            return "В файле " + file + " нет ни одной строки с суммой SHA-256. " + retake;
        default:
            return "Не удалось вычислить SHA-256 файла " + file +
                   ": образ нельзя проверить. Запустите программу снова; если ошибка повторится, "
                   "обратитесь в службу поддержки.";
    }
}

std::string BadFileMessage(const RunOutcome& outcome) {
    const std::string& file = outcome.file;
    switch (outcome.fault) {
        case FileFault::CannotOpen:
            return "Не удалось открыть файл " + file +
                   ". Прошивка остановлена. Проверьте, что файл на месте и не открыт другой "
                   "программой.";
        case FileFault::CannotRead:
            return "Не удалось прочитать файл " + file +
                   ". Прошивка остановлена. Файл поврежден или недоступен: замените его.";
        case FileFault::NameTooLong:
            return "Слишком длинное имя файла " + file +
                   " для контроллера. Прошивка остановлена. Сократите имя до 120 символов или "
                   "уберите файл из папки data.";
        case FileFault::HashFailed:
        case FileFault::SumMismatch:
        case FileFault::NotInSums:
        case FileFault::SumsMalformed:
            return SumsFaultMessage(outcome);
        case FileFault::CannotWrite:
        case FileFault::DiffersOnController:
        case FileFault::NotReadBack:
        case FileFault::None:
            break;
    }
    return "Не удалось записать файл " + file +
           ". Прошивка не начиналась. Разрешите запись в папку data или запустите программу из "
           "папки, доступной для записи.";
}

// After the new kernel took the files: where the controller's own ones are kept.
std::string BackupSentence(const std::string& folder) {
    if (folder.empty()) {
        return " Копии файлов контроллера нет: при повторе сверьте MAC с наклейкой и проверьте IP.";
    }
    return " Копия файлов контроллера: " + folder + ".";
}

std::string CheckFailedMessage(const RunOutcome& outcome) {
    if (outcome.fault == FileFault::NotReadBack) {
        return "Не удалось прочитать из контроллера файл " + outcome.file +
               " для проверки записи. Новая прошивка в контроллер записана, но этот файл мог "
               "сохраниться с ошибками. Проверьте кабель и повторите обновление прошивки с первой "
               "страницы." +
               BackupSentence(outcome.backupFolder);
    }
    return "Контроллер сохранил файл " + outcome.file +
           " с ошибками, и повторная запись не помогла. Новая прошивка в контроллер записана. "
           "Повторите обновление прошивки с форматированием флеш-памяти; если ошибка повторится, "
           "контроллер неисправен." +
           BackupSentence(outcome.backupFolder);
}

}  // namespace

std::string ResultMessage(const RunOutcome& outcome) {
    switch (outcome.code) {
        case ResultDone:
        case ResultStopped:
            return std::string();
        case ResultPortLost:
            return PortLostMessage(
                outcome.port,
                outcome.kernelErased ? LostWhile::FlashingAfterErase : LostWhile::Flashing,
                outcome.backupFolder);
        case ResultNoAnswer:
            return kNoAnswerText;
        case ResultOpenFailed:
            return kPortNotOpenedText;
        case ResultBadFile:
            return BadFileMessage(outcome) + kNothingSent;
        case ResultCheckFailed:
            return CheckFailedMessage(outcome);
        default:
            return kOtherErrorsText;
    }
}

std::string PortLostMessage(const std::string& port, LostWhile when,
                            const std::string& backupFolder) {
    const std::string lost =
        "Связь с контроллером через " + port + " потеряна (адаптер отключен?). ";
    switch (when) {
        case LostWhile::Reading:
            return lost + "Контроллер не затронут. Подключите адаптер и выберите порт снова.";
        case LostWhile::Flashing:
            return lost +
                   "Прежняя прошивка контроллера не тронута: проверьте кабель и адаптер, снимите "
                   "джампер, нажмите Reset и начните заново с первой страницы.";
        case LostWhile::FlashingAfterErase:
            break;
    }
    return lost +
           "Ядро контроллера уже стерто, он ждет прошивку в своем загрузчике: подключите адаптер "
           "снова и пройдите помощник заново, введя MAC с наклейки. " +
           (backupFolder.empty()
                ? std::string("Копии MAC, IP и калибровки контроллера нет: проверьте IP.")
                : "MAC, IP и калибровка контроллера сохранены в папке " + backupFolder + ".");
}

std::string CalibrationFromBackupMessage(bool identityRead, const std::string& date,
                                         const std::string& folder) {
    const std::string what = identityRead ? "MAC и IP считаны, а файл калибровки calib.inc из "
                                            "контроллера считать не удалось."
                                          : "Считать данные из контроллера не удалось.";
    return what + " В контроллер будет записан файл калибровки calib.inc из резервной копии от " +
           date + " (" + folder +
           "). Если копия не подходит, нажмите «Отмена» на странице джампера: в контроллер еще "
           "ничего не передано.";
}

std::string HelpFailedMessage(const std::string& helpFile) {
    return "Не удалось открыть справку " + helpFile +
           ": программы WinHelp в этой Windows нет. Открывается встроенная справка; чтобы она "
           "открывалась сразу, удалите или переименуйте этот файл.";
}

std::vector<std::string> MessageCatalogue() {
    const std::string file = "<файл>", folder = "<папка>", sum = "<сумма>";
    std::vector<std::string> all = {kPlcIniMissingText,
                                    kNoMacText,
                                    kNoIpText,
                                    kNotReadText,
                                    kCalibrationAtRiskText,
                                    kFormatConfirmText,
                                    kDataNotUpdatedText,
                                    kBackupFailedText,
                                    kFlashingFromMemoryText,
                                    kTraceNamedText + file,
                                    kUnknownErrorText,
                                    kRemoveJumperText,
                                    kPressResetText,
                                    FormatReport("Hard format completed! Found <число> bad pages"),
                                    PortLostMessage("<порт>", LostWhile::Reading),
                                    CalibrationFromBackupMessage(false, "<дата>", folder),
                                    CalibrationFromBackupMessage(true, "<дата>", folder),
                                    HelpFailedMessage(file)};
    for (int code : {ResultNoAnswer, ResultOpenFailed, ResultProtocol}) {
        RunOutcome outcome;
        outcome.code = code;
        all.push_back(ResultMessage(outcome));
    }
    for (FileFault fault : {FileFault::CannotOpen, FileFault::CannotRead, FileFault::NameTooLong,
                            FileFault::CannotWrite, FileFault::HashFailed, FileFault::SumMismatch,
                            FileFault::NotInSums, FileFault::SumsMalformed}) {
        RunOutcome outcome;
        outcome.code = ResultBadFile;
        outcome.file = file;
        outcome.fault = fault;
        outcome.expectedSum = outcome.actualSum = sum;
        all.push_back(ResultMessage(outcome));
    }
    for (const std::string& kept : {folder, std::string()}) {
        RunOutcome outcome;
        outcome.backupFolder = kept;
        outcome.code = ResultCheckFailed;
        outcome.file = file;
        for (FileFault fault : {FileFault::NotReadBack, FileFault::DiffersOnController}) {
            outcome.fault = fault;
            all.push_back(ResultMessage(outcome));
        }
        outcome.code = ResultPortLost;
        outcome.port = "<порт>";
        for (bool erased : {false, true}) {
            outcome.kernelErased = erased;
            all.push_back(ResultMessage(outcome));
        }
    }
    std::sort(all.begin(), all.end());
    all.erase(std::unique(all.begin(), all.end()), all.end());
    return all;
}
