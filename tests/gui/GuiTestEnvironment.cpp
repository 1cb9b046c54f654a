// One QApplication for the whole test program: the windows need it.
// Without a display the tests run on Qt's "offscreen"
// platform, which is chosen unless QT_QPA_PLATFORM names another.

#include <QApplication>

#include <memory>

#include <gtest/gtest.h>

namespace kavri::test {
namespace {

class GuiTestEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (QApplication::instance() != nullptr) {
            return;
        }
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        m_application = std::make_unique<QApplication>(m_argc, m_argv);
    }
    void TearDown() override { m_application.reset(); }

private:
    // QApplication keeps references to these for its whole life.
    int m_argc = 1;
    char m_name[9] = "test_gui";
    char* m_argv[2] = {m_name, nullptr};
    std::unique_ptr<QApplication> m_application;
};

// gtest takes the environment over and deletes it at the end of the program.
[[maybe_unused]] ::testing::Environment* const kGuiEnvironment =
    ::testing::AddGlobalTestEnvironment(new GuiTestEnvironment);

}  // namespace
}  // namespace kavri::test
