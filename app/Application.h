// The application object and the program's global error report.
//
// An error that no handler catches must not end the program: it is shown in a box with an error
// icon and its message, and the program goes on with the next event. Exceptions must not unwind
// through Qt's own frames, so every handler the program connects is wrapped by Guarded, which
// catches at the handler's edge; the application's event dispatch catches whatever still escapes
// an event handler the program overrides.
#pragma once

#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <utility>

class TApplication : public QApplication {
public:
    // Loads Qt's Japanese texts.
    TApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;
};

// Shows the exception being handled (call it inside a catch block) in the error box.
void ReportCurrentException() noexcept;

// Runs action and reports any exception it raises; true when it raised none.
template <class F>
bool Guarded(F&& action) noexcept
{
    try {
        std::forward<F>(action)();
        return true;
    } catch (...) {
        ReportCurrentException();
        return false;
    }
}

// A slot for Qt's connect that runs object->*handler() under Guarded; a result is dropped.
template <class T, class R>
auto GuardedSlot(T* object, R (T::*handler)())
{
    return [object, handler] { Guarded([&] { (object->*handler)(); }); };
}

// With QUAVERLY_EXIT_ON_FIRST_PAINT=1 in the environment, the process prints "first-paint" on its
// standard output as soon as its first window has been painted and handed to the window system,
// and ends there: bench/startup_bench times a start with it. Otherwise nothing happens. Inline and
// Qt-only, so that the bench's bare Qt window takes the very same path to its marker.
inline void ExitOnFirstPaintWhenAsked(QApplication& app)
{
    if (qEnvironmentVariableIntValue("QUAVERLY_EXIT_ON_FIRST_PAINT") != 1) return;
    class TFirstPaint : public QObject {
    public:
        using QObject::QObject;
        bool eventFilter(QObject* watched, QEvent* event) override
        {
            if (event->type() == QEvent::Paint && !seen_) {
                seen_ = true;
                // The window paints all its widgets and then flushes them to the screen in one
                // go; the next turn of the event loop comes after that flush.
                QTimer::singleShot(0, [] {
                    std::fputs("first-paint\n", stdout);
                    std::fflush(stdout);
                    std::_Exit(0);
                });
            }
            return QObject::eventFilter(watched, event);
        }

    private:
        bool seen_ = false;
    };
    app.installEventFilter(new TFirstPaint(&app));
}
