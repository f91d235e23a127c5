// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/UHtmlHelp.h"

#include "framework/TApplication.h"
#include "shell/UHelpGuide.h"
#include "shell/WinHtmlHelp.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QGuiApplication>
#include <QScreen>
#include <QUrl>
#include <QWidget>
#include <gtest/gtest.h>

#include <vector>

namespace {
struct THelpCall {
    std::uint32_t Command;
    std::uint32_t Data;
    QByteArray File;
};

// Stands in for the viewer library: counts loads, fails the first `failures` of them, and records
// every call of its function, which answers `window`.
struct TFakeViewer {
    int Loads = 0;
    int Unloads = 0;
    int Failures = 0;
    bool HasFunction = true;
    THelpWindowHandle Window = 0;
    std::vector<THelpCall> Calls;

    THtmlHelpLoader Loader()
    {
        return {
            [this](const char* library) {
                EXPECT_STREQ(library, "hhctrl.ocx");
                ++Loads;
                return Loads > Failures;
            },
            [this](const char* function) -> THtmlHelpFunction {
                EXPECT_STREQ(function, "HtmlHelpA");
                if (!HasFunction)
                    return {};
                return [this](THelpWindowHandle, const char* file, std::uint32_t command, std::uint32_t data) {
                    Calls.push_back({command, data, QByteArray(file)});
                    return Window;
                };
            },
            [this] { ++Unloads; },
        };
    }
};

// Catches what would open in the desktop's browser.
class TUrlCatcher : public QObject {
    Q_OBJECT
public:
    TUrlCatcher() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "Open"); }
    ~TUrlCatcher() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
    QList<QUrl> Opened;
public slots:
    void Open(const QUrl& url) { Opened.append(url); }
};

struct THelpFixture : ::testing::Test {
    TFakeViewer viewer;
    TUrlCatcher urls;
    void SetUp() override { SetHtmlHelpLoader(viewer.Loader()); }
    void TearDown() override
    {
        SetHtmlHelpLoader({});
        TApplication::SetHelpFile(QString());
    }
};
} // namespace

TEST_F(THelpFixture, WithoutAHelpFileNothingIsShown)
{
    EXPECT_FALSE(ShowHtmlHelp(HELP_CONTEXT, 6007));
    EXPECT_FALSE(ShowHtmlHelp(HELP_FINDER, 0));
    EXPECT_EQ(viewer.Loads, 0) << "the library is not even looked for";
    EXPECT_TRUE(urls.Opened.isEmpty());
}

TEST_F(THelpFixture, ContextRequestsUseCommand15AndEverythingElseTheDefaultTopic)
{
    TApplication::SetHelpFile(QStringLiteral("/usr/share/doc/framora/help.chm"));
    struct TCase {
        std::uint16_t Command;
        std::int32_t Data;
        std::uint32_t ViewerCommand;
        std::uint32_t ViewerData;
    };
    const TCase cases[] = {{1, 6007, 15, 6007}, {11, 0, 0, 0}, {3, 99, 0, 0}};
    for (const TCase& c : cases)
        EXPECT_TRUE(ShowHtmlHelp(c.Command, c.Data));
    ASSERT_EQ(viewer.Calls.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(viewer.Calls[i].Command, cases[i].ViewerCommand) << i;
        EXPECT_EQ(viewer.Calls[i].Data, cases[i].ViewerData) << i;
        EXPECT_EQ(viewer.Calls[i].File, QByteArray("/usr/share/doc/framora/help.chm"));
    }
    EXPECT_EQ(viewer.Loads, 1) << "a loaded library is kept";
}

TEST_F(THelpFixture, AFailedLoadIsRetriedAndAMissingViewerFallsBackToTheBrowser)
{
    viewer.Failures = 2;
    EXPECT_EQ(HtmlHelp(0, QStringLiteral("x"), HH_DISPLAY_TOPIC, 0), 0u);
    EXPECT_EQ(HtmlHelp(0, QStringLiteral("x"), HH_DISPLAY_TOPIC, 0), 0u);
    EXPECT_EQ(viewer.Loads, 2);
    EXPECT_EQ(HtmlHelp(0, QStringLiteral("x"), HH_DISPLAY_TOPIC, 0), 0u);
    EXPECT_EQ(HtmlHelp(0, QStringLiteral("x"), HH_DISPLAY_TOPIC, 0), 0u);
    EXPECT_EQ(viewer.Loads, 3);
    EXPECT_EQ(viewer.Calls.size(), 2u);
    ReleaseHtmlHelp();
    EXPECT_EQ(viewer.Unloads, 1);

    // The library without its function: nothing to call, the file opens in the browser.
    viewer.HasFunction = false;
    QTemporaryDir folder;
    const QString page = folder.filePath(QStringLiteral("help.html"));
    QFile(page).open(QIODevice::WriteOnly);
    TApplication::SetHelpFile(page);
    EXPECT_TRUE(ShowHtmlHelp(HELP_CONTEXT, 6007));
    EXPECT_EQ(urls.Opened, QList<QUrl>{QUrl::fromLocalFile(page)});
}

TEST_F(THelpFixture, TheRealBindingFailsCleanly)
{
    SetHtmlHelpLoader({});
    EXPECT_EQ(HtmlHelp(0, QStringLiteral("help.chm"), HH_HELP_CONTEXT, 6007), 0u);
}

TEST_F(THelpFixture, AHelpWindowPartlyOffTheWorkAreaIsFittedOnce)
{
    const QRect work = QGuiApplication::primaryScreen()->availableGeometry();
    QWidget partly;
    partly.setGeometry(work.right() - 99, work.top() + 10, 200, 150);
    partly.show();
    QWidget outside;
    outside.setGeometry(work.right() + 50, work.bottom() + 50, 100, 100);
    outside.show();
    TApplication::SetHelpFile(QStringLiteral("/tmp/help.chm"));

    viewer.Window = partly.winId();
    const QRect fitted = partly.frameGeometry().intersected(work);
    ASSERT_NE(fitted, partly.frameGeometry());
    EXPECT_TRUE(ShowHtmlHelp(HELP_CONTEXT, 1));
    EXPECT_EQ(partly.frameGeometry(), fitted);

    // The same window again is left where it is.
    partly.setGeometry(work.right() - 99, work.top() + 10, 200, 150);
    EXPECT_TRUE(ShowHtmlHelp(HELP_CONTEXT, 1));
    EXPECT_EQ(partly.geometry().width(), 200);

    viewer.Window = outside.winId();
    const QRect before = outside.frameGeometry();
    EXPECT_TRUE(ShowHtmlHelp(HELP_CONTEXT, 1));
    EXPECT_EQ(outside.frameGeometry(), before);
    EXPECT_TRUE(urls.Opened.isEmpty()) << "a viewer window was there";
}

#include "UHtmlHelpTest.moc"

namespace {
void WritePage(const QString& path)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
}
} // namespace

// The guide is looked for beside an installed program first, then in the build folder; when
// neither has the page the installed place is named, so a request can say where it belongs.
TEST(HelpGuide, ThePageOfTheLanguageIsFoundWhereTheProgramIs)
{
    QTemporaryDir root;
    const QString bin = root.filePath(QStringLiteral("usr/bin"));
    const QString installed = root.filePath(QStringLiteral("usr/share/doc/framora/guide"));
    const QStringList folders = GuideFolders(bin);
    ASSERT_EQ(folders, (QStringList{installed, bin + QStringLiteral("/guide")}));

    EXPECT_EQ(GuidePage(folders, TUiLanguage::English), installed + QStringLiteral("/en/index.html"));
    WritePage(bin + QStringLiteral("/guide/en/index.html"));
    WritePage(bin + QStringLiteral("/guide/ja/index.html"));
    EXPECT_EQ(GuidePage(folders, TUiLanguage::English), bin + QStringLiteral("/guide/en/index.html"));
    WritePage(installed + QStringLiteral("/ja/index.html"));
    EXPECT_EQ(GuidePage(folders, TUiLanguage::Japanese), installed + QStringLiteral("/ja/index.html"));
    EXPECT_EQ(GuidePage(folders, TUiLanguage::English), bin + QStringLiteral("/guide/en/index.html"))
        << "each language's page is looked for on its own";
    EXPECT_TRUE(GuidePage({}, TUiLanguage::English).isEmpty());
}

TEST_F(THelpFixture, WhatBecomesOfARequestWithoutAViewer)
{
    viewer.HasFunction = false;
    QTemporaryDir folder;
    const QString page = folder.filePath(QStringLiteral("en/index.html"));
    WritePage(page);
    QList<QUrl> asked;
    bool browserTakes = true;
    SetHelpBrowser([&](const QUrl& url) {
        asked.append(url);
        return browserTakes;
    });
    struct TCase {
        QString File;
        bool BrowserTakes;
        THelpResult Result;
        int Asked;
    };
    const TCase cases[] = {
        {QString(), true, THelpResult::NoHelpFile, 0},
        {folder.filePath(QStringLiteral("ja/index.html")), true, THelpResult::Missing, 0},
        {page, true, THelpResult::Shown, 1},
        {page, false, THelpResult::NoBrowser, 1},
    };
    for (const TCase& c : cases) {
        asked.clear();
        browserTakes = c.BrowserTakes;
        TApplication::SetHelpFile(c.File);
        EXPECT_EQ(ShowApplicationHelp(HELP_CONTEXT, 6007), c.Result) << c.File.toStdString();
        EXPECT_EQ(asked.size(), c.Asked) << c.File.toStdString();
    }
    EXPECT_EQ(asked, QList<QUrl>{QUrl::fromLocalFile(page)});
    SetHelpBrowser({});
    EXPECT_TRUE(urls.Opened.isEmpty()) << "a replaced browser is the only one asked";
}
