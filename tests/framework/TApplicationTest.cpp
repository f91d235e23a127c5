// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/IdleHandlers.h"
#include "framework/TApplication.h"
#include "framework/TForm.h"
#include "framework/TestChildProcess.h"

#include <QAbstractEventDispatcher>
#include <QMetaObject>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <cstdio>
#include <stdexcept>

namespace {
// Every failure of a child is a distinct exit code, so the parent's message says which check broke.
int ChildFailure(int code, const char* what)
{
    std::fprintf(stderr, "child check failed: %s\n", what);
    return code;
}
} // namespace

// Exceptions thrown by a timer slot, a queued call and a click, with nobody subscribed: each is
// taken by the application, nothing is shown, and the loop goes on to its normal end.
FRAMORA_CHILD_SCENARIO(UnsubscribedExceptions)
{
    int argc = 1;
    char name[] = "child";
    char* argv[] = {name, nullptr};
    TApplication app(argc, argv);
    QPushButton button(QStringLiteral("throws"));
    QObject::connect(&button, &QPushButton::clicked, [] { throw std::runtime_error("click"); });
    button.show();

    bool reachedEnd = false;
    QTimer::singleShot(0, &app, [] { throw std::runtime_error("timer"); });
    QTimer::singleShot(1, &app, [] { throw 42; }); // not a std::exception
    QMetaObject::invokeMethod(&app, [] { throw std::logic_error("queued"); }, Qt::QueuedConnection);
    QTimer::singleShot(5, &app, [&] {
        QTest::mouseClick(&button, Qt::LeftButton);
        QTimer::singleShot(0, &app, [&] {
            reachedEnd = true;
            app.quit();
        });
    });
    TApplication::SetExitCode(7);
    const int code = app.Run();

    if (!reachedEnd)
        return ChildFailure(10, "loop did not go on after the exceptions");
    if (TApplication::HandledExceptionCount() != 4)
        return ChildFailure(11, "not every exception reached the application");
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget != &button && widget->isVisible())
            return ChildFailure(12, "something was shown");
    if (code != 7)
        return ChildFailure(13, "Run did not answer the exit code");
    return 0;
}

// Subscribers receive the exception newest first; a destroyed subscriber no longer does.
FRAMORA_CHILD_SCENARIO(SubscriberOrder)
{
    int argc = 1;
    char name[] = "child";
    char* argv[] = {name, nullptr};
    TApplication app(argc, argv);

    QStringList calls;
    const auto recorder = [&calls](const QString& who) {
        return [&calls, who](QObject*, std::exception_ptr error) {
            try {
                std::rethrow_exception(error);
            } catch (const std::exception& e) {
                calls.append(who + QLatin1Char(':') + QString::fromUtf8(e.what()));
            }
        };
    };
    TApplicationEvents older;
    older.OnException = recorder(QStringLiteral("older"));
    auto* gone = new TApplicationEvents;
    gone->OnException = recorder(QStringLiteral("gone"));
    TApplicationEvents newer;
    newer.OnException = recorder(QStringLiteral("newer"));
    TApplicationEvents idleOnly; // no OnException: skipped
    delete gone;

    QTimer::singleShot(0, &app, [] { throw std::runtime_error("boom"); });
    QTimer::singleShot(1, &app, &QCoreApplication::quit);
    app.Run();

    if (calls != QStringList{QStringLiteral("newer:boom"), QStringLiteral("older:boom")})
        return ChildFailure(20, qPrintable(calls.join(QLatin1Char(','))));
    return 0;
}

// A main form closed while it is being created (a second instance) ends the program before
// any loop runs, with the exit code set.
FRAMORA_CHILD_SCENARIO(MainFormClosedBeforeRun)
{
    int argc = 1;
    char name[] = "child";
    char* argv[] = {name, nullptr};
    TApplication app(argc, argv);
    TForm form;
    TApplication::SetMainForm(&form);
    TApplication::SetExitCode(1);
    form.close();
    if (!TApplication::Terminated())
        return ChildFailure(30, "closing the main form did not terminate");
    if (app.Run() != 1) // a loop that ran would wait here for good
        return ChildFailure(31, "Run did not answer the exit code");
    return 0;
}

TEST(TApplication, ExceptionsEscapingHandlersAreTakenAndTheProgramGoesOn)
{
    for (const char* scenario : {"UnsubscribedExceptions", "SubscriberOrder"}) {
        const TChildResult result = RunChildScenario(scenario);
        EXPECT_FALSE(result.Crashed) << scenario << '\n' << result.Output.constData();
        EXPECT_EQ(result.ExitCode, 0) << scenario << '\n' << result.Output.constData();
    }
}

TEST(TApplication, MainFormClosedDuringCreationEndsWithoutALoop)
{
    const TChildResult result = RunChildScenario("MainFormClosedBeforeRun");
    EXPECT_EQ(result.ExitCode, 0) << result.Output.constData();
}

TEST(TApplication, SettingsWorkUnderAnyApplicationObject)
{
    // The tests' own application object is a plain QApplication.
    EXPECT_EQ(Application(), nullptr);
    EXPECT_TRUE(TApplication::HelpFile().isEmpty());
    TApplication::SetTitle(QStringLiteral("Framora"));
    EXPECT_EQ(TApplication::Title(), QStringLiteral("Framora"));
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), QStringLiteral("Framora"));
}

TEST(TApplicationEvents, IdleReachesSubscribersNewestFirstOncePerRound)
{
    QStringList calls;
    TApplicationEvents first;
    first.OnIdle = [&](QObject*, bool& done) {
        EXPECT_TRUE(done);
        calls.append(QStringLiteral("first"));
    };
    TApplicationEvents second;
    second.OnIdle = [&](QObject* sender, bool&) {
        EXPECT_EQ(sender, QCoreApplication::instance());
        calls.append(QStringLiteral("second"));
    };

    RunIdleHandlers();
    EXPECT_EQ(calls, (QStringList{QStringLiteral("second"), QStringLiteral("first")}));

    // The event loop's own idle signal drives the same round.
    calls.clear();
    emit QAbstractEventDispatcher::instance()->aboutToBlock();
    EXPECT_EQ(calls.size(), 2);
}

TEST(TApplicationEvents, IdleRoundDoesNotReenterItself)
{
    int calls = 0;
    TApplicationEvents events;
    events.OnIdle = [&](QObject*, bool&) {
        ++calls;
        RunIdleHandlers(); // a handler spinning a local loop would do this
    };
    RunIdleHandlers();
    EXPECT_EQ(calls, 1);
}

TEST(TApplicationEvents, ExceptionInIdleWorkGoesToExceptionHandling)
{
    TApplicationEvents events;
    QString message;
    events.OnIdle = [](QObject*, bool&) { throw std::runtime_error("idle failure"); };
    events.OnException = [&](QObject*, std::exception_ptr error) {
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            message = QString::fromUtf8(e.what());
        }
    };
    const int before = TApplication::HandledExceptionCount();
    EXPECT_NO_THROW(RunIdleHandlers());
    EXPECT_EQ(message, QStringLiteral("idle failure"));
    EXPECT_EQ(TApplication::HandledExceptionCount(), before + 1);
}

TEST(TApplicationEvents, ActivationMinimiseAndHintReachSubscribers)
{
    QStringList calls;
    TApplicationEvents events;
    events.OnActivate = [&](QObject*) { calls.append(QStringLiteral("activate")); };
    events.OnDeactivate = [&](QObject*) { calls.append(QStringLiteral("deactivate")); };
    events.OnMinimize = [&](QObject*) { calls.append(QStringLiteral("minimize")); };
    events.OnRestore = [&](QObject*) { calls.append(QStringLiteral("restore")); };
    events.OnHint = [&](QObject*) { calls.append(QStringLiteral("hint:") + TApplicationEvents::Hint()); };

    TApplicationEvents::RaiseActivate(true);
    TApplicationEvents::RaiseActivate(false);
    TApplicationEvents::RaiseMinimize(true);
    TApplicationEvents::RaiseMinimize(false);
    TApplicationEvents::RaiseHint(QStringLiteral("tip"));
    TApplicationEvents::RaiseHint(QStringLiteral("tip")); // unchanged: no event
    EXPECT_EQ(calls, (QStringList{QStringLiteral("activate"), QStringLiteral("deactivate"),
                                  QStringLiteral("minimize"), QStringLiteral("restore"), QStringLiteral("hint:tip")}));
    TApplicationEvents::RaiseHint(QString());
}
