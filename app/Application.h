// The application object and the program's global error report.
//
// An error that no handler catches must not end the program: it is shown in a box with an error
// icon and its message, and the program goes on with the next event. Exceptions must not unwind
// through Qt's own frames, so every handler the program connects is wrapped by Guarded, which
// catches at the handler's edge; the application's event dispatch catches whatever still escapes
// an event handler the program overrides.
#pragma once

#include <QApplication>
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
