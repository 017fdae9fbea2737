// The window tests run inside the program's own application object, on Qt's offscreen platform,
// with a scratch home of their own: the settings file, the lock file and every document live
// there, and the user's real ones are never touched.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <QDir>
#include <string>

#include "tests/app/AppFixture.h"
#include "app/Application.h"

namespace app_test {
namespace {
std::string scratch;
}

QString ScratchDir() { return QString::fromStdString(scratch); }

}  // namespace app_test

int main(int argc, char** argv)
{
    char pattern[] = "/tmp/quaverly-app-test-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return 2;
    app_test::scratch = pattern;
    const std::string runtime = app_test::scratch + "/runtime";
    mkdir(runtime.c_str(), 0700);
    setenv("HOME", app_test::scratch.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (app_test::scratch + "/config").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("JACK_NO_START_SERVER", "1", 1);

    int result = 0;
    {
        TApplication app(argc, argv);
        ::testing::InitGoogleTest(&argc, argv);
        result = RUN_ALL_TESTS();
    }
    QDir(QString::fromStdString(app_test::scratch)).removeRecursively();
    return result;
}
