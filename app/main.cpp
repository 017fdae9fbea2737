// quaverly: the desktop program. Its arguments are --version, or a document file to open; Qt
// takes its standard ones (-platform and the like).
#include <cstdio>
#include <cstring>

#include <QStringList>

#include "app/Application.h"
#include "app/InstanceLock.h"
#include "app/Program.h"
#include "generated/Version.h"

int main(int argc, char** argv)
{
    // Answered before any window system is touched, so that it works without a display and while
    // another copy holds the lock.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::fputs("quaverly " QUAVERLY_VERSION "\n", stdout);
        return 0;
    }
    TApplication app(argc, argv);
    ExitOnFirstPaintWhenAsked(app);
    // What Qt left of the arguments: the document to open, when one is named.
    const QStringList arguments = QApplication::arguments();
    return RunQuaverly(InstanceLockPath(), nullptr, arguments.size() >= 2 ? arguments.at(1) : QString());
}
