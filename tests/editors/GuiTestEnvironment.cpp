// One QGuiApplication for the whole test program: Qt's fonts, painting and
// image readers need it. Without a display the tests run on Qt's "offscreen"
// platform, which is chosen unless QT_QPA_PLATFORM names another.

#include <QGuiApplication>

#include <memory>

#include <gtest/gtest.h>

namespace kavri::test {
namespace {

class GuiTestEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (QGuiApplication::instance() != nullptr) {
            return;
        }
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        m_application = std::make_unique<QGuiApplication>(m_argc, m_argv);
    }
    void TearDown() override { m_application.reset(); }

private:
    // QGuiApplication keeps references to these for its whole life.
    int m_argc = 1;
    char m_name[13] = "test_editors";
    char* m_argv[2] = {m_name, nullptr};
    std::unique_ptr<QGuiApplication> m_application;
};

// gtest takes the environment over and deletes it at the end of the program.
[[maybe_unused]] ::testing::Environment* const kGuiEnvironment =
    ::testing::AddGlobalTestEnvironment(new GuiTestEnvironment);

}  // namespace
}  // namespace kavri::test
