// SPDX-License-Identifier: GPL-3.0-or-later
#include "imagestore/USceneRecovery.h"
#include "framework/FileHandle.h"
#include "framework/ThreadPriority.h"

#include <QBuffer>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QList>
#include <QStandardPaths>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <functional>
#include <iterator>
#include <mutex>
#include <stop_token>
#include <thread>
#include <utility>
#include <variant>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray SceneMagic = QByteArrayLiteral("FRAMORA-SCENE 1");
const QByteArray PictureFormat = QByteArrayLiteral("png");
constexpr qsizetype MaxHeaderBytes = 64 * 1024;
constexpr int MaxSettings = 64;
// A PNG of the largest picture allowed, with room for poor compression.
constexpr qint64 MaxSceneFileBytes = MaxRecoveredScenePixels * 4 + MaxHeaderBytes;

const QString RootFolderName = QStringLiteral("framora");
const QString InstancePrefix = QStringLiteral("scenes-");
// A folder being made: it only gets its final name once this program holds its lock.
const QString NewFolderPrefix = QStringLiteral(".new-");
const QString LockFileName = QStringLiteral("lock");
const QString SceneSuffix = QStringLiteral(".scene");
constexpr int SceneNumberDigits = 12;
constexpr mode_t PrivateFolderMode = 0700;
constexpr mode_t PrivateFileMode = 0600;

const QString DamagedSceneLog = QStringLiteral("recovered scene %1 skipped: %2");
const QString WriteFailedLog = QStringLiteral("cannot keep scene for recovery in %1: %2");

QString ErrnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// The lock of folder, taken without waiting; an invalid handle when another program holds it.
TFileHandle TryLockFolder(const QString& folder)
{
    const QByteArray path = QFile::encodeName(QDir(folder).filePath(LockFileName));
    TFileHandle lock(::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, PrivateFileMode));
    if (!lock.Valid() || ::flock(lock.Get(), LOCK_EX | LOCK_NB) != 0)
        return {};
    return lock;
}

// Makes root private to this user; false when it is not a folder of ours.
bool MakePrivateFolder(const QString& root)
{
    if (!QDir().mkpath(root))
        return false;
    const QByteArray path = QFile::encodeName(root);
    struct stat status {};
    if (::lstat(path.constData(), &status) != 0 || !S_ISDIR(status.st_mode) || status.st_uid != ::getuid())
        return false;
    return (status.st_mode & 0777) == PrivateFolderMode || ::chmod(path.constData(), PrivateFolderMode) == 0;
}

void SyncFolder(const QString& folder)
{
    const TFileHandle handle(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (handle.Valid())
        ::fsync(handle.Get());
}

QStringList SceneFiles(const QString& folder)
{
    // Zero-padded numbers: the order of names is the order of capture.
    return QDir(folder).entryList({QLatin1Char('*') + SceneSuffix}, QDir::Files | QDir::Hidden, QDir::Name);
}

QByteArray Line(const char* key, const QByteArray& value)
{
    return QByteArray(key) + ' ' + value + '\n';
}

QByteArray SizeText(const QSize& size)
{
    return QByteArray::number(size.width()) + 'x' + QByteArray::number(size.height());
}

std::optional<QSize> ParseSize(const QByteArray& text)
{
    const QList<QByteArray> parts = text.split('x');
    bool wide = false, high = false;
    if (parts.size() != 2)
        return std::nullopt;
    const int width = parts[0].toInt(&wide);
    const int height = parts[1].toInt(&high);
    if (!wide || !high || width < -1 || height < -1)
        return std::nullopt;
    return QSize(width, height);
}

QString Decoded(const QByteArray& value)
{
    return QString::fromUtf8(QByteArray::fromPercentEncoding(value));
}

// Reads one header line "key value" into origin; false when it makes no sense.
bool ReadHeaderLine(const QByteArray& key, const QByteArray& value, TProvenance& origin)
{
    bool ok = true;
    if (key == "movie") {
        origin.Movie = Decoded(value);
    } else if (key == "position") {
        origin.PositionMs = value.toInt(&ok);
    } else if (key == "picture-number") {
        origin.PictureNumber = value.toLongLong(&ok);
    } else if (key == "coded" || key == "shown") {
        const std::optional<QSize> size = ParseSize(value);
        if (!size)
            return false;
        (key == "coded" ? origin.CodedSize : origin.ShownSize) = *size;
    } else if (key == "setting") {
        const qsizetype space = value.indexOf(' ');
        if (space < 0 || origin.Settings.size() >= MaxSettings)
            return false;
        origin.Settings.append({Decoded(value.left(space)), Decoded(value.mid(space + 1))});
    } else if (key == "creator") {
        origin.Creator = Decoded(value);
    }
    // Keys this version does not know are passed over: a later one may add some.
    return ok;
}

} // namespace

QByteArray EncodeRecoveredScene(const QImage& picture, const TProvenance& origin)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, PictureFormat);
    if (!writer.write(picture))
        return {};
    QByteArray bytes = SceneMagic + '\n';
    bytes += Line("movie", origin.Movie.toUtf8().toPercentEncoding());
    bytes += Line("position", QByteArray::number(origin.PositionMs));
    bytes += Line("picture-number", QByteArray::number(static_cast<qlonglong>(origin.PictureNumber)));
    bytes += Line("coded", SizeText(origin.CodedSize));
    bytes += Line("shown", SizeText(picture.size()));
    for (const auto& [name, value] : origin.Settings)
        bytes += Line("setting", name.toUtf8().toPercentEncoding() + ' ' + value.toUtf8().toPercentEncoding());
    bytes += Line("creator", origin.Creator.toUtf8().toPercentEncoding());
    bytes += Line("png", QByteArray::number(png.size()));
    return bytes + png;
}

std::optional<TRecoveredScene> DecodeRecoveredScene(const QByteArray& bytes, QString& error)
{
    const auto damaged = [&error](const char* reason) {
        error = QString::fromLatin1(reason);
        return std::nullopt;
    };
    if (!bytes.startsWith(SceneMagic + '\n'))
        return damaged("not a kept scene");
    TRecoveredScene scene;
    qsizetype at = SceneMagic.size() + 1;
    qint64 pictureBytes = -1;
    while (pictureBytes < 0) {
        const qsizetype end = bytes.indexOf('\n', at);
        if (end < 0 || end > MaxHeaderBytes)
            return damaged("header cut short");
        const QByteArray line = bytes.mid(at, end - at);
        at = end + 1;
        const qsizetype space = line.indexOf(' ');
        if (space <= 0)
            return damaged("header line without a value");
        const QByteArray key = line.left(space), value = line.mid(space + 1);
        if (key == "png") {
            bool ok = false;
            pictureBytes = value.toLongLong(&ok);
            if (!ok || pictureBytes < 0)
                return damaged("picture length unreadable");
        } else if (!ReadHeaderLine(key, value, scene.Origin)) {
            return damaged("header value unreadable");
        }
    }
    if (pictureBytes != bytes.size() - at)
        return damaged("picture cut short");
    const QSize shown = scene.Origin.ShownSize;
    if (shown.width() <= 0 || shown.height() <= 0 ||
        static_cast<std::int64_t>(shown.width()) * shown.height() > MaxRecoveredScenePixels)
        return damaged("picture size out of range");
    QByteArray png = bytes.mid(at);
    QBuffer buffer(&png);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, PictureFormat);
    // The picture must be the size the header gives before a single pixel is allocated.
    if (reader.size() != shown)
        return damaged("picture size differs from the header");
    QImage picture;
    if (!reader.read(&picture) || picture.size() != shown)
        return damaged("picture unreadable");
    scene.Picture = picture.convertToFormat(QImage::Format_BGR888);
    scene.Origin.ShownSize = shown;
    return scene;
}

QString RecoveryRoot()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || QDir::isRelativePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return QDir(state).filePath(RootFolderName);
}

struct TOrphanedScenes::TFolder {
    QString Path;
    TFileHandle Lock;
};

TOrphanedScenes::TOrphanedScenes(const QString& root)
{
    const QDir rootDir(root);
    // Oldest first: scenes of several lost runs come back in the order they were taken.
    const QFileInfoList entries = rootDir.entryInfoList({InstancePrefix + QLatin1Char('*'), NewFolderPrefix + QLatin1Char('*')},
                                                        QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot,
                                                        QDir::Time | QDir::Reversed);
    for (const QFileInfo& entry : entries) {
        if (entry.isSymLink())
            continue;
        TFileHandle lock = TryLockFolder(entry.filePath());
        if (!lock.Valid())
            continue; // its program still runs
        // A folder never finished holds no scene.
        if (entry.fileName().startsWith(NewFolderPrefix)) {
            QDir(entry.filePath()).removeRecursively();
            continue;
        }
        // A folder whose scenes were all saved or deleted has nothing to offer.
        if (SceneFiles(entry.filePath()).isEmpty()) {
            QDir(entry.filePath()).removeRecursively();
            continue;
        }
        FFolders.push_back(std::make_unique<TFolder>(TFolder{entry.filePath(), std::move(lock)}));
    }
}

TOrphanedScenes::~TOrphanedScenes() = default;

std::size_t TOrphanedScenes::SceneFileCount(std::size_t i) const
{
    return static_cast<std::size_t>(SceneFiles(FFolders.at(i)->Path).size());
}

QList<QDateTime> TOrphanedScenes::SceneFileTimes(std::size_t i) const
{
    const QDir folder(FFolders.at(i)->Path);
    QList<QDateTime> times;
    for (const QString& name : SceneFiles(folder.path()))
        times.append(QFileInfo(folder.filePath(name)).lastModified());
    return times;
}

std::vector<TRecoveredScene> TOrphanedScenes::Read(std::size_t i) const
{
    std::vector<TRecoveredScene> scenes;
    for (const QString& name : SceneFileNames(i))
        if (std::optional<TRecoveredScene> scene = ReadScene(i, name))
            scenes.push_back(std::move(*scene));
    return scenes;
}

QStringList TOrphanedScenes::SceneFileNames(std::size_t i) const
{
    return SceneFiles(FFolders.at(i)->Path);
}

std::optional<TRecoveredScene> TOrphanedScenes::ReadScene(std::size_t i, const QString& name) const
{
    QFile file(QDir(FFolders.at(i)->Path).filePath(name));
    QString error;
    std::optional<TRecoveredScene> scene;
    if (!file.open(QIODevice::ReadOnly))
        error = file.errorString();
    else if (file.size() > MaxSceneFileBytes)
        error = QStringLiteral("file too large");
    else
        scene = DecodeRecoveredScene(file.readAll(), error);
    if (!scene)
        qCritical().noquote() << DamagedSceneLog.arg(file.fileName(), error);
    return scene;
}

void TOrphanedScenes::Remove(std::size_t i)
{
    QDir(FFolders.at(i)->Path).removeRecursively();
}

void TOrphanedScenes::RemoveScenes(std::size_t i, const QStringList& files)
{
    const QDir folder(FFolders.at(i)->Path);
    for (const QString& name : files)
        QFile::remove(folder.filePath(name));
}

namespace {

struct TWriteScene {
    std::uint64_t Id;
    QImage Picture;
    TProvenance Origin;
};
struct TRemoveScene {
    std::uint64_t Id;
};
struct TRemoveAllScenes {};
struct TCheckKept {
    std::vector<std::uint64_t> Ids; // the scenes not yet saved when it was asked
    std::function<void(bool)> Then;
};
using TRecoveryJob = std::variant<TWriteScene, TRemoveScene, TRemoveAllScenes, TCheckKept>;

QString SceneFileName(std::uint64_t id)
{
    return QStringLiteral("%1").arg(id, SceneNumberDigits, 10, QLatin1Char('0')) + SceneSuffix;
}

} // namespace

struct TSceneRecovery::TWorker {
    explicit TWorker(QString root) : Root(std::move(root)) {}

    void Post(TRecoveryJob job)
    {
        {
            std::lock_guard lock(Mutex);
            Jobs.push_back(std::move(job));
        }
        Changed.notify_all();
    }

    void Flush()
    {
        std::unique_lock lock(Mutex);
        Changed.wait(lock, [this] { return Jobs.empty() && !Busy; });
    }

    void Run(std::stop_token stop)
    {
        for (;;) {
            TRecoveryJob job;
            {
                std::unique_lock lock(Mutex);
                Busy = false;
                Changed.notify_all();
                if (!Changed.wait(lock, stop, [this] { return !Jobs.empty(); }))
                    return;
                job = std::move(Jobs.front());
                Jobs.pop_front();
                Busy = true;
            }
            std::visit([this](auto& j) { Do(j); }, job);
        }
    }

    // The instance folder, made and locked on first use; empty when it cannot be.
    bool EnsureFolder()
    {
        if (Lock.Valid())
            return true;
        if (!MakePrivateFolder(Root)) {
            Report(Root, QStringLiteral("not a private folder"));
            return false;
        }
        QByteArray pattern = QFile::encodeName(QDir(Root).filePath(NewFolderPrefix + QStringLiteral("XXXXXX")));
        if (!::mkdtemp(pattern.data())) {
            Report(Root, ErrnoText());
            return false;
        }
        const QString made = QFile::decodeName(pattern);
        TFileHandle lock = TryLockFolder(made);
        const QString named = QDir(Root).filePath(InstancePrefix + QFileInfo(made).fileName().mid(NewFolderPrefix.size()));
        if (!lock.Valid() || ::rename(pattern.constData(), QFile::encodeName(named).constData()) != 0) {
            Report(Root, ErrnoText());
            QDir(made).removeRecursively();
            return false;
        }
        Lock = std::move(lock);
        SyncFolder(Root);
        std::lock_guard guard(Mutex);
        Folder = named;
        return true;
    }

    void Do(TWriteScene& job)
    {
        if (!EnsureFolder())
            return;
        QString error;
        const QByteArray bytes = EncodeRecoveredScene(job.Picture, job.Origin);
        if (bytes.isEmpty())
            Report(Folder, QStringLiteral("picture cannot be encoded"));
        else if (!WriteWholeFile(QDir(Folder).filePath(SceneFileName(job.Id)), bytes, error, PrivateFileMode))
            Report(Folder, error);
        else {
            std::lock_guard guard(Mutex);
            Written.insert(job.Id);
        }
    }

    void Do(TRemoveScene& job)
    {
        {
            std::lock_guard guard(Mutex);
            Written.erase(job.Id);
        }
        if (Lock.Valid())
            QFile::remove(QDir(Folder).filePath(SceneFileName(job.Id)));
    }

    void Do(TRemoveAllScenes&)
    {
        {
            std::lock_guard guard(Mutex);
            Written.clear();
        }
        if (!Lock.Valid())
            return;
        for (const QString& name : SceneFiles(Folder))
            QFile::remove(QDir(Folder).filePath(name));
    }

    void Do(TCheckKept& job)
    {
        bool every = false;
        {
            std::lock_guard guard(Mutex);
            every = std::all_of(job.Ids.begin(), job.Ids.end(), [this](std::uint64_t id) { return Written.count(id) != 0; });
        }
        job.Then(every);
    }

    void Report(const QString& where, const QString& error) const
    {
        qCritical().noquote() << WriteFailedLog.arg(where, error);
    }

    void RemoveFolder()
    {
        if (!Lock.Valid())
            return;
        QDir(Folder).removeRecursively();
        Lock.Close();
    }

    const QString Root;
    std::mutex Mutex;
    std::condition_variable_any Changed;
    std::deque<TRecoveryJob> Jobs; // protected by Mutex
    bool Busy = false;             // a job is being done; protected by Mutex
    std::set<std::uint64_t> Written; // scenes whose file is on disk; protected by Mutex
    QString Folder;                // set once by the worker under Mutex, then read only
    TFileHandle Lock;              // the worker's; read by the owner only after the thread ended
    std::jthread Thread;           // last: it stops and joins before the fields it uses go
};

TSceneRecovery::TSceneRecovery(QString root) : FWorker(std::make_unique<TWorker>(std::move(root)))
{
    FWorker->Thread = std::jthread([worker = FWorker.get()](std::stop_token stop) {
        LowerThisThreadPriority();
        worker->Run(stop);
    });
}

TSceneRecovery::~TSceneRecovery()
{
    if (!FWorker->Thread.joinable())
        return; // abandoned
    FWorker->Flush();
    FWorker->Thread.request_stop();
    FWorker->Thread.join();
    FWorker->RemoveFolder();
}

void TSceneRecovery::Added(const QImage& picture, const TProvenance& origin)
{
    FIds.push_back(++FNextId);
    FWorker->Post(TWriteScene{FNextId, picture, origin});
}

void TSceneRecovery::Removed(int index)
{
    if (index < 0 || static_cast<std::size_t>(index) >= FIds.size())
        return;
    if (const std::uint64_t id = FIds[static_cast<std::size_t>(index)]; id != NoFile)
        FWorker->Post(TRemoveScene{id});
    FIds.erase(FIds.begin() + index);
}

void TSceneRecovery::Saved()
{
    // The scenes stay in the list: their places are kept, without files.
    std::fill(FIds.begin(), FIds.end(), NoFile);
    FWorker->Post(TRemoveAllScenes{});
}

void TSceneRecovery::Cleared()
{
    FIds.clear();
    FWorker->Post(TRemoveAllScenes{});
}

void TSceneRecovery::Flush()
{
    FWorker->Flush();
}

bool TSceneRecovery::KeepsEveryScene()
{
    FWorker->Flush();
    std::lock_guard lock(FWorker->Mutex);
    return std::all_of(FIds.begin(), FIds.end(),
                       [this](std::uint64_t id) { return id == NoFile || FWorker->Written.count(id) != 0; });
}

void TSceneRecovery::WhenKept(std::function<void(bool everyScene)> then)
{
    TCheckKept job{{}, std::move(then)};
    std::copy_if(FIds.begin(), FIds.end(), std::back_inserter(job.Ids), [](std::uint64_t id) { return id != NoFile; });
    FWorker->Post(std::move(job));
}

QString TSceneRecovery::Folder() const
{
    std::lock_guard lock(FWorker->Mutex);
    return FWorker->Folder;
}

void TSceneRecovery::Abandon()
{
    FWorker->Flush();
    FWorker->Thread.request_stop();
    FWorker->Thread.join();
    FWorker->Lock.Close();
}
