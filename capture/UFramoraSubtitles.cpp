// SPDX-License-Identifier: GPL-3.0-or-later
// The 字幕 menu and the subtitles drawn over the preview and into captures and copies.
#include "capture/UFramora.h"

#include "decoder/UMovieSubtitles.h"
#include "framework/TPaintBox.h"
#include "framework/UCoordUtil.h"

#include <QActionGroup>
#include <QCoreApplication>
#include <QFileInfo>
#include <QFrame>
#include <QMenu>
#include <QPainter>
#include <QTimer>

#include <array>
#include <utility>

namespace {

QString Translated(const char* text)
{
    return QCoreApplication::translate("TfrmFramora", text);
}

const char* const UnnamedSubtitleStream = QT_TRANSLATE_NOOP("TfrmFramora", "字幕 %1");
const QString SubtitleCodecFormat = QStringLiteral("%1 (%2)");
const char* const SubtitleFileFormat = QT_TRANSLATE_NOOP("TfrmFramora", "%1 (ファイル)");

// Languages as ISO 639-2 (both forms) or 639-1 codes name them, in the menu's language.
const std::array<std::pair<const char*, const char*>, 30> LanguageNames{{
    {"jpn", QT_TRANSLATE_NOOP("TfrmFramora", "日本語")},
    {"ja", QT_TRANSLATE_NOOP("TfrmFramora", "日本語")},
    {"eng", QT_TRANSLATE_NOOP("TfrmFramora", "英語")},
    {"en", QT_TRANSLATE_NOOP("TfrmFramora", "英語")},
    {"fre", QT_TRANSLATE_NOOP("TfrmFramora", "フランス語")},
    {"fra", QT_TRANSLATE_NOOP("TfrmFramora", "フランス語")},
    {"fr", QT_TRANSLATE_NOOP("TfrmFramora", "フランス語")},
    {"ger", QT_TRANSLATE_NOOP("TfrmFramora", "ドイツ語")},
    {"deu", QT_TRANSLATE_NOOP("TfrmFramora", "ドイツ語")},
    {"de", QT_TRANSLATE_NOOP("TfrmFramora", "ドイツ語")},
    {"spa", QT_TRANSLATE_NOOP("TfrmFramora", "スペイン語")},
    {"es", QT_TRANSLATE_NOOP("TfrmFramora", "スペイン語")},
    {"ita", QT_TRANSLATE_NOOP("TfrmFramora", "イタリア語")},
    {"it", QT_TRANSLATE_NOOP("TfrmFramora", "イタリア語")},
    {"chi", QT_TRANSLATE_NOOP("TfrmFramora", "中国語")},
    {"zho", QT_TRANSLATE_NOOP("TfrmFramora", "中国語")},
    {"zh", QT_TRANSLATE_NOOP("TfrmFramora", "中国語")},
    {"kor", QT_TRANSLATE_NOOP("TfrmFramora", "韓国語")},
    {"ko", QT_TRANSLATE_NOOP("TfrmFramora", "韓国語")},
    {"rus", QT_TRANSLATE_NOOP("TfrmFramora", "ロシア語")},
    {"ru", QT_TRANSLATE_NOOP("TfrmFramora", "ロシア語")},
    {"por", QT_TRANSLATE_NOOP("TfrmFramora", "ポルトガル語")},
    {"pt", QT_TRANSLATE_NOOP("TfrmFramora", "ポルトガル語")},
    {"dut", QT_TRANSLATE_NOOP("TfrmFramora", "オランダ語")},
    {"nld", QT_TRANSLATE_NOOP("TfrmFramora", "オランダ語")},
    {"nl", QT_TRANSLATE_NOOP("TfrmFramora", "オランダ語")},
    {"tha", QT_TRANSLATE_NOOP("TfrmFramora", "タイ語")},
    {"th", QT_TRANSLATE_NOOP("TfrmFramora", "タイ語")},
    {"ara", QT_TRANSLATE_NOOP("TfrmFramora", "アラビア語")},
    {"ar", QT_TRANSLATE_NOOP("TfrmFramora", "アラビア語")},
}};

// While the shown picture's time is beyond the index, it is looked at this often.
constexpr int IndexPollMs = 200;

const char* const SubtitleChoiceProperty = "subtitleChoice";
// What an item of the menu chooses: a stream by its place among the movie's, or a file.
constexpr int FileChoice = -1;

QString LanguageName(const std::string& code)
{
    const QString lower = QString::fromStdString(code).toLower();
    for (const auto& [known, name] : LanguageNames) {
        if (lower == QLatin1String(known))
            return Translated(name);
    }
    return QString::fromStdString(code);
}

} // namespace

QString SubtitleStreamLabel(const TSubtitleStreamInfo& stream, int number)
{
    QStringList parts;
    if (!stream.Language.empty() && stream.Language != "und")
        parts << LanguageName(stream.Language);
    if (!stream.Title.empty())
        parts << QString::fromStdString(stream.Title);
    if (parts.isEmpty())
        parts << Translated(UnnamedSubtitleStream).arg(number);
    return SubtitleCodecFormat.arg(parts.join(QLatin1Char(' ')), QString::fromStdString(stream.Codec));
}

void TfrmFramora::CreateSubtitleMenu()
{
    Subtitles = std::make_unique<TMovieSubtitles>();
    SubtitleChoices = new QActionGroup(this);
    SubtitleChoices->setExclusive(true);
    SubtitleChoices->addAction(SubtitlesNone1);
    connect(SubtitleChoices, &QActionGroup::triggered, this, &TfrmFramora::SubtitleChosen);
    SubtitleIndexTimer = new QTimer(this);
    SubtitleIndexTimer->setObjectName(QStringLiteral("SubtitleIndexTimer"));
    SubtitleIndexTimer->setInterval(IndexPollMs);
    connect(SubtitleIndexTimer, &QTimer::timeout, this, &TfrmFramora::SubtitleIndexTick);
}

void TfrmFramora::FillSubtitleMenu()
{
    Subtitles->Close();
    SubtitlesIndexedFor = nullptr;
    SubtitleIndexTimer->stop();
    FrameSubtitles = QImage();
    for (QAction* item : std::as_const(SubtitleItems)) {
        SubtitleChoices->removeAction(item);
        Subtitles1->removeAction(item);
        item->deleteLater();
    }
    SubtitleItems.clear();
    SubtitlesNone1->setChecked(true);
    const auto add = [this](const QString& label, int choice, const QString& file) {
        auto* item = new QAction(label, Subtitles1);
        item->setCheckable(true);
        item->setProperty(SubtitleChoiceProperty, choice);
        item->setData(file);
        SubtitleChoices->addAction(item);
        Subtitles1->addAction(item);
        SubtitleItems << item;
    };
    int number = 0;
    for (const TSubtitleStreamInfo& stream : Movie.SubtitleStreams) {
        add(SubtitleStreamLabel(stream, number + 1), number, QString());
        ++number;
    }
    if (Movie.FileName.empty())
        return;
    if (const std::string beside = SubtitleFiles::FileBeside(Movie.FileName); !beside.empty()) {
        const QString file = QString::fromStdString(beside);
        add(Translated(SubtitleFileFormat).arg(QFileInfo(file).fileName()), FileChoice, file);
    }
}

void TfrmFramora::SubtitleChosen(QAction* item)
{
    // なし only hides the subtitles: chosen again, they come back at once, without reading the
    // whole stream anew.
    if (item != SubtitlesNone1 && item != SubtitlesIndexedFor && !Movie.FileName.empty()) {
        Subtitles->Close();
        SubtitlesIndexedFor = nullptr;
        if (const int choice = item->property(SubtitleChoiceProperty).toInt(); choice == FileChoice) {
            Subtitles->OpenFile(item->data().toString().toStdString());
            SubtitlesIndexedFor = item;
        } else if (const std::vector<TSubtitleStreamInfo>& streams = Movie.SubtitleStreams;
                   choice >= 0 && choice < static_cast<int>(streams.size())) {
            Subtitles->OpenStream(Movie.FileName, streams[static_cast<std::size_t>(choice)]);
            SubtitlesIndexedFor = item;
        }
    }
    RefreshSubtitleOverlay();
}

bool TfrmFramora::SubtitlesShown() const
{
    return Subtitles && Subtitles->IsOpen() && !SubtitlesNone1->isChecked();
}

QSize TfrmFramora::FrameDisplaySize() const
{
    // FrameBitmap may not be made yet: playback shows the picture at the size drawn.
    return DisplayGeometry::DisplayedSize(FrameSize, FrameDisplay, TAspectScaling::Display);
}

void TfrmFramora::DrawSubtitles(TBitmap& Stored, std::int32_t TimeMs) const
{
    if (!SubtitlesShown())
        return;
    Subtitles->Draw(Stored, TimeMs, FrameDisplaySize());
}

void TfrmFramora::RefreshSubtitleOverlay()
{
    FrameSubtitles = QImage();
    SubtitleIndexTimer->stop();
    if (SubtitlesShown() && FrameShown && !FrameSize.isEmpty()) {
        // Laid out at the size the preview shows the picture, so that the text is sharp there.
        const QSize shown = FrameDisplaySize();
        const TRect fitted = FitRectCentered(TRect{0, 0, shown.width(), shown.height()},
                                             TRect{0, 0, Panel1->width(), Panel1->height()});
        const QSize onScreen = ToQRect(fitted).size();
        FrameSubtitles = Subtitles->Overlay(onScreen.isEmpty() ? shown : onScreen, FrameMovieMs, shown);
        // The subtitle of a time the index has not read comes when it has, read there first.
        if (!Subtitles->IndexCovers(FrameMovieMs)) {
            Subtitles->ReadNear(FrameMovieMs);
            SubtitleIndexTimer->start();
        }
    }
    PaintBox1->update();
}

void TfrmFramora::SubtitleIndexTick()
{
    if (!SubtitlesShown() || Subtitles->IndexCovers(FrameMovieMs))
        RefreshSubtitleOverlay();
}

void TfrmFramora::PaintSubtitles(QPainter& canvas)
{
    if (FrameSubtitles.isNull() || !FrameShown)
        return;
    const TRect target{0, 0, Panel1->width(), Panel1->height()};
    const TRect source{0, 0, FrameSubtitles.width(), FrameSubtitles.height()};
    canvas.resetTransform();
    canvas.setRenderHint(QPainter::SmoothPixmapTransform);
    canvas.drawImage(ToQRect(FitRectCentered(source, target)), FrameSubtitles);
}
