#include "pages/target_version.h"

#include <cstring>

#include "framework/file.h"

std::string ParseTargetVersion(const std::string& image) {
    static const char kMarker[] = "arget version";
    size_t at = 0;
    for (;;) {
        while (at < image.size() && image[at] != 'T') ++at;
        if (at >= image.size()) return std::string();
        ++at;
        if (image.size() - at < 13) return std::string();
        // The 13 bytes as a NUL-terminated text: a zero among them ends it early.
        const std::string piece = image.substr(at, 13);
        at += 13;
        if (std::strcmp(piece.c_str(), kMarker) != 0) continue;
        while (at < image.size() && image[at] == ' ') ++at;
        const size_t end = image.find(' ', at);
        if (at >= image.size() || end == std::string::npos) return std::string();
        return image.substr(at, end - at);
    }
}

std::string ReadTargetVersion(const std::string& path) {
    CFile file;
    if (!file.Open(path, CFile::modeRead)) return std::string();
    std::string image;
    char buffer[65536];
    for (uint32_t got; (got = file.Read(buffer, sizeof(buffer))) > 0;) image.append(buffer, got);
    return file.Failed() ? std::string() : ParseTargetVersion(image);
}

std::string ComposeResultMessage(const std::string& device, const std::string& version) {
    std::string message =
        "Прошивка контроллера " + device +
        " успешно заменена. Нажмите кнопку Reset на контроллере, отключите питание контроллера, "
        "установите джампер средней платы в рабочее положение и закройте крышку корпуса.";
    if (!version.empty()) {
        message +=
            " Для работы с данной версией прошивки контроллера требуется target версии не "
            "ниже № " +
            version + ".";
    }
    return message;
}
