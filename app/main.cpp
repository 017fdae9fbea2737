// quaverly: the desktop program. Arguments are not used.
#include "Application.h"
#include "InstanceLock.h"
#include "Program.h"

int main(int argc, char** argv)
{
    TApplication app(argc, argv);
    return RunQuaverly(InstanceLockPath());
}
