// The adapter pulled out: the controller's line goes away (plcsim --vanish-on) during the
// kernel upload and as the controller is read. The program names the port, says what it means
// for the controller, and stays usable.
#include <string>

#include "e2e_fixture.h"
#include "flash/log_file.h"

namespace {

class PulledOut : public EndToEnd {};

TEST_F(PulledOut, DuringTheKernelUpload) {
    ASSERT_NO_FATAL_FAILURE(Install("ПЛК-110"));
    const std::string port = EnvText("E2E_PORT_PULLED_UPLOAD");
    ASSERT_NO_FATAL_FAILURE(ReadIdentityFrom(port));
    ASSERT_NO_FATAL_FAILURE(StartFlashing("pulled-upload"));
    ASSERT_NO_FATAL_FAILURE(RunTo(Page::Welcome, 120000));
    const auto errors = BoxesCaptioned("Ошибка");
    ASSERT_EQ(errors.size(), 1u) << BoxesSaid();
    EXPECT_EQ(errors[0].text.rfind("Связь с контроллером через " + port + " потеряна", 0), 0u)
        << errors[0].text;
    EXPECT_NE(errors[0].text.find("ждет прошивку в своем загрузчике"), std::string::npos)
        << errors[0].text;
    const std::string log = ReadAll(m_install + "\\plcflash.log");
    EXPECT_NE(
        log.find(Cp1251ToUtf8("Связь: порт " + port + " потерян, ядро контроллера уже стерто")),
        std::string::npos)
        << log;
    // Still usable: on to the port page for another cable.
    ASSERT_TRUE(m_driver.Click(ID_WIZNEXT));
    EXPECT_TRUE(m_driver.WaitForPage(Page::Port, 10000));
    m_driver.Shot("after-the-port-was-lost");
}

TEST_F(PulledOut, AsTheControllerIsRead) {
    ASSERT_NO_FATAL_FAILURE(Install("ПЛК-317"));
    const std::string port = EnvText("E2E_PORT_PULLED_READ");
    ASSERT_NO_FATAL_FAILURE(Launch());
    ASSERT_TRUE(m_driver.WaitForPage(Page::Welcome, 10000));
    ASSERT_TRUE(m_driver.Click(ID_WIZNEXT));
    ASSERT_TRUE(m_driver.WaitForPage(Page::Port, 10000));
    ASSERT_TRUE(m_driver.SelectPort(port));
    ASSERT_TRUE(m_driver.Click(ID_WIZNEXT));
    // No pause and second try against a port that is gone (that would take over 5 s).
    ASSERT_TRUE(m_boxes->WaitForBoxes(1, 4000)) << "the page did not say so at once";
    ASSERT_TRUE(m_driver.WaitForPage(Page::Port, 10000));
    const auto errors = BoxesCaptioned("Ошибка");
    ASSERT_EQ(errors.size(), 1u) << BoxesSaid();
    EXPECT_EQ(errors[0].text.rfind("Связь с контроллером через " + port + " потеряна", 0), 0u)
        << errors[0].text;
    // Nothing was sent: the controller is as it was, and the port page follows.
    EXPECT_NE(errors[0].text.find("Контроллер не затронут. Подключите адаптер и выберите порт"),
              std::string::npos)
        << errors[0].text;
}

}  // namespace
