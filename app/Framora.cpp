// SPDX-License-Identifier: GPL-3.0-or-later
// The program entry: start the application, show the capture window and run
// the message loop until it closes; the process ends with the window's exit code. A movie named
// on the command line (relative to the current folder or absolute) opens at start; --help,
// --version and usage errors are answered before the window system is reached.
//
// These environment variables let scripts and tests drive the real program without a user:
//   FRAMORA_ANSWER_BOXES=1      message boxes are answered with their default button instead of
//                               being shown; each one is written to stderr as
//                               "framora: message: <caption>: <text>", and "framora: shown" is
//                               written once the window is on screen, followed by
//                               "framora: help <file>" naming the page F1 opens, and
//                               "framora: handed <path>" for each movie a later start hands over.
//   FRAMORA_REPORT_LAYOUT=1     once the window is on screen, the screen rectangle of each named
//                               widget is written to stderr as "framora: widget <name> x y w h",
//                               then "framora: layout reported" (scripts click by these).
//   FRAMORA_HEARTBEAT=<file>    while the window thread takes events, the file is renewed every
//                               FRAMORA_HEARTBEAT_MS milliseconds (default 500, 10 to 10000) with
//                               "<ms since the epoch> <longest absence ms>": scripts tell a hung
//                               window by its age, and the longest time the window thread stayed
//                               away beyond the interval since the file was made (remove it to
//                               measure from then on). At the end "framora: longest absence N ms"
//                               is written to stderr, N over the whole run.
//   FRAMORA_REPORT_BAR_PICTURES=1  each picture that comes above the position bar is written to
//                               stderr as "framora: bar picture <place ms> <w>x<h> after <ms>",
//                               ms being how long the pointer waited for a picture.
//   FRAMORA_GRAB=<file.png>     once the window has been shown for FRAMORA_GRAB_AFTER_MS
//                               milliseconds (default 1000), a picture of the whole window is
//                               saved to that file and the program ends (exit code 0, or 3 when
//                               the file cannot be written).
#include "capture/UDesktop.h"
#include "capture/UFramora.h"
#include "capture/USeekBarPictures.h"
#include "decoder/UFFmpegLog.h"
#include "framework/MessageBox.h"
#include "framework/QtMessageLog.h"
#include "framework/TApplication.h"
#include "imagestore/UGraphicFormats.h"
#include "shell/UCommandLine.h"
#include "shell/UExecuteCheck.h"
#include "shell/UHelpGuide.h"
#include "shell/UHeartbeat.h"
#include "shell/UInstanceChannel.h"
#include "shell/ULanguage.h"

#include <QPixmap>
#include <QStringList>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <memory>

namespace {

const QString ApplicationTitle = QStringLiteral("Framora");
constexpr int DefaultGrabAfterMs = 1000;
constexpr int GrabFailedExitCode = 3;

void Report(const QString& line)
{
    std::fprintf(stderr, "framora: %s\n", line.toUtf8().constData());
    std::fflush(stderr);
}

std::unique_ptr<TMessageBoxScript> AnswerBoxesWhenAsked()
{
    if (qEnvironmentVariableIsEmpty("FRAMORA_ANSWER_BOXES"))
        return nullptr;
    return std::make_unique<TMessageBoxScript>([](const TMessageBoxRequest& request) {
        Report(QStringLiteral("message: %1: %2").arg(request.Caption, request.Text));
        return request.Buttons == TMsgButtons::YesNo || request.Buttons == TMsgButtons::YesNoCancel
                   ? TMsgResult::Yes
                   : TMsgResult::OK;
    });
}

void ReportLayoutWhenAsked(QWidget& window)
{
    if (qEnvironmentVariableIsEmpty("FRAMORA_REPORT_LAYOUT"))
        return;
    QTimer::singleShot(0, &window, [&window] {
        for (const QWidget* widget : window.findChildren<QWidget*>()) {
            if (widget->objectName().isEmpty() || !widget->isVisible())
                continue;
            const QPoint at = widget->mapToGlobal(QPoint(0, 0));
            Report(QStringLiteral("widget %1 %2 %3 %4 %5")
                       .arg(widget->objectName())
                       .arg(at.x())
                       .arg(at.y())
                       .arg(widget->width())
                       .arg(widget->height()));
        }
        Report(QStringLiteral("layout reported"));
    });
}

void GrabWhenAsked(QWidget& window)
{
    const QString file = qEnvironmentVariable("FRAMORA_GRAB");
    if (file.isEmpty())
        return;
    bool valid = false;
    int after = qEnvironmentVariableIntValue("FRAMORA_GRAB_AFTER_MS", &valid);
    if (!valid || after < 0)
        after = DefaultGrabAfterMs;
    QTimer::singleShot(after, &window, [&window, file] {
        const bool saved = window.grab().save(file, "PNG");
        Report(saved ? QStringLiteral("grabbed %1").arg(file) : QStringLiteral("cannot write %1").arg(file));
        QCoreApplication::exit(saved ? 0 : GrabFailedExitCode);
    });
}

void ReportBarPicturesWhenAsked(TfrmFramora& form)
{
    if (qEnvironmentVariableIsEmpty("FRAMORA_REPORT_BAR_PICTURES"))
        return;
    form.SeekBarPictures().SetPictureShown([](std::int32_t placeMs, QSize size, std::int64_t waitedMs) {
        Report(QStringLiteral("bar picture %1 %2x%3 after %4").arg(placeMs).arg(size.width()).arg(size.height()).arg(waitedMs));
    });
}

std::unique_ptr<THeartbeat> BeatWhenAsked()
{
    const QString file = qEnvironmentVariable("FRAMORA_HEARTBEAT");
    if (file.isEmpty())
        return nullptr;
    return std::make_unique<THeartbeat>(file, Heartbeat::IntervalMs(qEnvironmentVariable("FRAMORA_HEARTBEAT_MS")));
}

// Movies later starts name open here, in front of whatever else is on the desktop.
void OpenHandedMovies(TInstanceServer& server, TfrmFramora& form, bool report)
{
    QObject::connect(
        &server, &TInstanceServer::MovieRequested, &form,
        [&form, report](const QString& path) {
            if (report)
                Report(QStringLiteral("handed %1").arg(path));
            form.setWindowState(form.windowState() & ~Qt::WindowMinimized);
            form.raise();
            form.activateWindow();
            form.OpenMovie(path);
        },
        Qt::QueuedConnection);
}

} // namespace

int main(int argc, char** argv)
{
    const TFramoraCommandLine commandLine = ParseFramoraCommandLine(CommandLineArguments(argc, argv));
    if (AnsweredWithoutRunning(commandLine))
        return commandLine.ExitCode();
    InstallFFmpegLog("framora", commandLine.Verbose ? TFFmpegLogLevel::Everything : TFFmpegLogLevel::ErrorsOnly);
    InstallQtMessageLog("framora", commandLine.Verbose);
    // A file-size limit must fail the write (EFBIG), which saving reports, not end the program
    // with every scene in it.
    std::signal(SIGXFSZ, SIG_IGN);
    // The held-guards list lives in the guard's unit; the framework starts here.
    TApplication application(argc, argv);
    TApplication::SetTitle(ApplicationTitle);
    const TUiLanguage language = ChooseUiLanguage(TLanguageEnvironment::FromProcess());
    const TUiTranslation translation(language);
    // F1 opens the user's guide in the language the window speaks.
    TApplication::SetHelpFile(GuidePage(GuideFolders(QCoreApplication::applicationDirPath()), language));
    const TGraphicFormats formats;
    const std::unique_ptr<TMessageBoxScript> answers = AnswerBoxesWhenAsked();
    // A movie for a window that already runs opens there; this start then has nothing to say.
    if (!commandLine.Movie.isEmpty() && SendMovieToRunningInstance(FramoraGuardName, commandLine.Movie))
        return 0;
    int exitCode = 0;
    {
        // Its creation ends with the single-instance check, which may close it at once.
        const std::unique_ptr<TfrmFramora> form = NewFramoraWindow();
        TApplication::SetMainForm(form.get());
        if (form->ClosedDuringCreate()) {
            TApplication::SetMainForm(nullptr);
            return TApplication::ExitCode();
        }
        form->show();
        if (answers) {
            Report(QStringLiteral("shown"));
            Report(QStringLiteral("help %1").arg(TApplication::HelpFile()));
        }
        TInstanceServer handedMovies(FramoraGuardName);
        OpenHandedMovies(handedMovies, *form, answers != nullptr);
        OfferRecoveredScenes(*form);
        if (!commandLine.Movie.isEmpty())
            form->OpenMovie(commandLine.Movie);
        ReportLayoutWhenAsked(*form);
        ReportBarPicturesWhenAsked(*form);
        GrabWhenAsked(*form);
        const std::unique_ptr<THeartbeat> heartbeat = BeatWhenAsked();
        exitCode = application.Run();
        TApplication::SetMainForm(nullptr);
        if (heartbeat)
            Report(QStringLiteral("longest absence %1 ms").arg(heartbeat->LongestAbsenceMs()));
    }
    // The guard and the help binding are released by their units as the process ends.
    return exitCode;
}
