#include <gtest/gtest.h>

#include "pages/target_version.h"

namespace {

TEST(TargetVersion, FoundAsTheResultPageReadsIt) {
    struct Case {
        const char* name;
        std::string image;
        std::string version;
    };
    const Case cases[] = {
        {"marker, one space, version, space", "xxTarget version 2.1 yy", "2.1"},
        {"three spaces before the version", "Target version   1.05 ", "1.05"},
        {"version at the end of the file", "Target version 1.05", ""},
        {"only spaces after the marker", "Target version    ", ""},
        {"no marker", "nothing here", ""},
        {"TTarget hides that occurrence", "TTarget version 9.9 ", ""},
        {"a later marker counts when an earlier one is hidden",
         "TTarget version 9.9 Target version 3.0 ", "3.0"},
        {"only the first marker counts", "Target version 1.0 Target version 2.0 ", "1.0"},
        {"line ends and tabs belong to the version", "Target version 1.0\r\n\tx ", "1.0\r\n\tx"},
        {"a zero inside the 13 bytes", std::string("Target\0version 1.0 ", 19), ""},
        {"case matters", "target version 1.0 Target Version 2.0 ", ""},
        {"fewer than 13 bytes after the T", "Target vers", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseTargetVersion(c.image), c.version) << c.name;
}

TEST(TargetVersion, ResultMessage) {
    const std::string body =
        " успешно заменена. Нажмите кнопку Reset на контроллере, отключите питание контроллера, "
        "установите джампер средней платы в рабочее положение и закройте крышку корпуса.";
    EXPECT_EQ(ComposeResultMessage("ПЛК", ""), "Прошивка контроллера ПЛК" + body);
    EXPECT_EQ(ComposeResultMessage("ПЛК", "1.05"),
              "Прошивка контроллера ПЛК" + body +
                  " Для работы с данной версией прошивки контроллера требуется target версии не "
                  "ниже № 1.05.");
    EXPECT_EQ(ReadTargetVersion("no/such/file.bin"), "");
}

}  // namespace
