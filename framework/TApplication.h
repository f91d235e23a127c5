// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The application object. Its notify() is the one place where an exception that escapes an event
// handler (a slot run by a timer, a click, a queued call, a paint) stops: it goes to the
// application-event subscribers and the loop carries on. With no subscriber nothing is shown.
//
// The application-wide settings (title, help file, exit code, main form) are process-wide and
// kept in static members, so units and tests can use them whether or not the running
// QApplication is a TApplication.
#include <QApplication>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <exception>
#include <functional>

class TApplicationEvents;

class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);
    ~TApplication() override;

    bool notify(QObject* receiver, QEvent* event) override;

    // Runs the message loop until the main window closes; answers the exit code last set. When
    // the application was terminated before (the main form closed while it was being created),
    // no loop runs at all.
    int Run();

    // Ends the message loop (or keeps it from starting). Closing the main form terminates.
    static void Terminate();
    static bool Terminated();

    // The name shown for the application (task bar, message boxes without a window).
    static QString Title();
    static void SetTitle(const QString& title);

    // The help file; empty unless something configures one.
    static QString HelpFile();
    static void SetHelpFile(const QString& file);

    // The code the process ends with; 0 unless set.
    static int ExitCode();
    static void SetExitCode(int code);

    // The window whose closing ends the loop; the fallback receiver of help requests.
    static QWidget* MainForm();
    static void SetMainForm(QWidget* form);

    // Classic help protocol: command 1 (context) with the context number, 11 (finder) with 0.
    // Goes to the active form's help event; true when a handler took the request.
    static bool HelpCommand(std::uint16_t command, std::int32_t data);
    static bool HelpContext(std::int32_t context);

    // Hands an exception to every subscriber's OnException, newest subscriber first. Nothing is
    // shown when nobody subscribes. Never throws.
    static void HandleException(QObject* sender, std::exception_ptr error);

    // Counts exceptions that reached HandleException, for diagnostics and tests.
    static int HandledExceptionCount();
};

// The running TApplication, or nullptr when the application object is a plain QApplication.
TApplication* Application();

inline constexpr std::uint16_t HELP_CONTEXT = 1;
inline constexpr std::uint16_t HELP_FINDER = 11;

// A subscriber to the application's events while it exists. Several may live at once; each event
// reaches them from the most recently created to the oldest.
class TApplicationEvents : public QObject {
    Q_OBJECT
public:
    explicit TApplicationEvents(QObject* owner = nullptr);
    ~TApplicationEvents() override;

    // Raised once each time the message loop goes idle. Leaving done true lets the loop wait for
    // the next message; setting it false asks for another idle round straight away.
    std::function<void(QObject* sender, bool& done)> OnIdle;
    // An exception that escaped an event handler.
    std::function<void(QObject* sender, std::exception_ptr error)> OnException;
    // The application gained or lost the focus; its main window was minimised or restored.
    std::function<void(QObject* sender)> OnActivate;
    std::function<void(QObject* sender)> OnDeactivate;
    std::function<void(QObject* sender)> OnMinimize;
    std::function<void(QObject* sender)> OnRestore;
    // The hint (status tip) under the mouse changed; the new text is in Hint().
    std::function<void(QObject* sender)> OnHint;

    static QString Hint();

    // Raise the application events; the application and its main window call these, and tests
    // may call them to stand for the real occasions.
    static void RaiseIdle();
    static void RaiseActivate(bool active);
    static void RaiseMinimize(bool minimized);
    static void RaiseHint(const QString& hint);
};
