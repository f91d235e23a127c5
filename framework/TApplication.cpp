// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/TApplication.h"

#include "framework/IdleHandlers.h"
#include "framework/TForm.h"

#include <QStatusTipEvent>
#include <QWindowStateChangeEvent>

#include <algorithm>
#include <vector>

namespace {
struct TApplicationState {
    QString Title;
    QString HelpFile;
    int ExitCode = 0;
    QPointer<QWidget> MainForm;
    QString Hint;
    bool MainFormMinimized = false;
    int HandledExceptions = 0;
    bool Terminated = false;
    std::vector<TApplicationEvents*> Subscribers; // oldest first; entries leave in their destructor
    TIdleHandlerId IdleHandler = 0;               // 0 until the first subscriber hooks idle time
};

TApplicationState& State()
{
    static TApplicationState state;
    return state;
}

QObject* Sender()
{
    return QCoreApplication::instance();
}

// Calls fn on every subscriber, newest first. A subscriber destroyed by an earlier one's handler
// is skipped.
template <typename Fn>
void ForEachSubscriber(Fn fn)
{
    std::vector<QPointer<TApplicationEvents>> snapshot;
    for (auto it = State().Subscribers.rbegin(); it != State().Subscribers.rend(); ++it)
        snapshot.emplace_back(*it);
    for (const auto& subscriber : snapshot)
        if (subscriber)
            fn(*subscriber);
}

void ApplyTitle()
{
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        QGuiApplication::setApplicationDisplayName(State().Title);
}
} // namespace

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    if (!State().Title.isEmpty())
        ApplyTitle();
    connect(this, &QGuiApplication::applicationStateChanged, this,
            [](Qt::ApplicationState state) { TApplicationEvents::RaiseActivate(state == Qt::ApplicationActive); });
}

TApplication::~TApplication() = default;

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        const QEvent::Type type = event->type();
        if (type == QEvent::StatusTip)
            TApplicationEvents::RaiseHint(static_cast<QStatusTipEvent*>(event)->tip());
        const bool result = QApplication::notify(receiver, event);
        if (type == QEvent::WindowStateChange && receiver == State().MainForm.data()) {
            const bool minimized = State().MainForm->isMinimized();
            if (minimized != State().MainFormMinimized)
                TApplicationEvents::RaiseMinimize(minimized);
        }
        return result;
    } catch (...) {
        HandleException(receiver, std::current_exception());
        return false;
    }
}

int TApplication::Run()
{
    if (Terminated())
        return ExitCode();
    const int loopCode = exec();
    return loopCode != 0 ? loopCode : ExitCode();
}

void TApplication::Terminate()
{
    State().Terminated = true;
    QCoreApplication::quit();
}

bool TApplication::Terminated()
{
    return State().Terminated;
}

QString TApplication::Title()
{
    return State().Title;
}

void TApplication::SetTitle(const QString& title)
{
    State().Title = title;
    ApplyTitle();
}

QString TApplication::HelpFile()
{
    return State().HelpFile;
}

void TApplication::SetHelpFile(const QString& file)
{
    State().HelpFile = file;
}

int TApplication::ExitCode()
{
    return State().ExitCode;
}

void TApplication::SetExitCode(int code)
{
    State().ExitCode = code;
}

QWidget* TApplication::MainForm()
{
    return State().MainForm;
}

void TApplication::SetMainForm(QWidget* form)
{
    State().MainForm = form;
    State().MainFormMinimized = form && form->isMinimized();
}

bool TApplication::HelpCommand(std::uint16_t command, std::int32_t data)
{
    auto* form = qobject_cast<TForm*>(QApplication::activeWindow());
    if (!form)
        form = qobject_cast<TForm*>(MainForm());
    return form && form->HelpRequest(command, data);
}

bool TApplication::HelpContext(std::int32_t context)
{
    return HelpCommand(HELP_CONTEXT, context);
}

void TApplication::HandleException(QObject* sender, std::exception_ptr error)
{
    ++State().HandledExceptions;
    ForEachSubscriber([&](TApplicationEvents& subscriber) {
        if (!subscriber.OnException)
            return;
        try {
            subscriber.OnException(sender, error);
        } catch (...) {
            // A failing exception handler has nobody left to report to.
        }
    });
}

int TApplication::HandledExceptionCount()
{
    return State().HandledExceptions;
}

TApplication* Application()
{
    return qobject_cast<TApplication*>(QCoreApplication::instance());
}

TApplicationEvents::TApplicationEvents(QObject* owner) : QObject(owner)
{
    State().Subscribers.push_back(this);
    if (State().IdleHandler == 0)
        State().IdleHandler = AddIdleHandler(&TApplicationEvents::RaiseIdle);
}

TApplicationEvents::~TApplicationEvents()
{
    auto& subscribers = State().Subscribers;
    subscribers.erase(std::remove(subscribers.begin(), subscribers.end(), this), subscribers.end());
}

QString TApplicationEvents::Hint()
{
    return State().Hint;
}

void TApplicationEvents::RaiseIdle()
{
    bool done = true;
    ForEachSubscriber([&](TApplicationEvents& subscriber) {
        if (subscriber.OnIdle)
            subscriber.OnIdle(Sender(), done);
    });
    if (!done)
        RequestIdleRound();
}

void TApplicationEvents::RaiseActivate(bool active)
{
    ForEachSubscriber([&](TApplicationEvents& subscriber) {
        const auto& handler = active ? subscriber.OnActivate : subscriber.OnDeactivate;
        if (handler)
            handler(Sender());
    });
}

void TApplicationEvents::RaiseMinimize(bool minimized)
{
    State().MainFormMinimized = minimized;
    ForEachSubscriber([&](TApplicationEvents& subscriber) {
        const auto& handler = minimized ? subscriber.OnMinimize : subscriber.OnRestore;
        if (handler)
            handler(Sender());
    });
}

void TApplicationEvents::RaiseHint(const QString& hint)
{
    if (hint == State().Hint)
        return;
    State().Hint = hint;
    ForEachSubscriber([&](TApplicationEvents& subscriber) {
        if (subscriber.OnHint)
            subscriber.OnHint(Sender());
    });
}
