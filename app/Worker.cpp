#include "app/Worker.h"

#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <exception>
#include <thread>

void RunWhileResponsive(const std::function<void()>& work, const std::function<void()>& poll, int intervalMs)
{
    // The two sides share only these: the worker never touches a widget.
    std::atomic<bool> done{false};
    std::exception_ptr failure;
    std::thread worker([&] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
        done = true;
    });

    QEventLoop loop;
    QTimer timer;
    timer.setInterval(intervalMs);
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
        poll();
        if (done) loop.quit();
    });
    timer.start();
    loop.exec();
    worker.join();
    if (failure) std::rethrow_exception(failure);
}
