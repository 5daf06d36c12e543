#include "app/log.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>

#include <cstdio>

#include "app/constants.h"

Q_LOGGING_CATEGORY(lcPolls, "tarvik.polls", QtInfoMsg)
Q_LOGGING_CATEGORY(lcRequests, "tarvik.requests", QtInfoMsg)
Q_LOGGING_CATEGORY(lcOrders, "tarvik.orders", QtInfoMsg)
Q_LOGGING_CATEGORY(lcUpdate, "tarvik.update", QtInfoMsg)
Q_LOGGING_CATEGORY(lcPrinting, "tarvik.printing", QtInfoMsg)
Q_LOGGING_CATEGORY(lcFiles, "tarvik.files", QtInfoMsg)
Q_LOGGING_CATEGORY(lcKeychain, "tarvik.keychain", QtInfoMsg)
Q_LOGGING_CATEGORY(lcSound, "tarvik.sound", QtInfoMsg)

namespace {

struct LogFile
{
    QMutex mutex;
    QFile file;
    QString folder;
    qint64 maxSize = Log::DefaultMaxFileSize;
    QtMessageHandler previous = nullptr;
    bool installed = false;
};

// Messages can come from static destructors after this one is gone: the handler checks first.
Q_GLOBAL_STATIC(LogFile, logFile)

// A message raised while a line is being written (a file error reported through qWarning) must not
// come back into the handler on the same thread.
thread_local bool writingLine = false;

char levelLetter(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return 'D';
    case QtInfoMsg:
        return 'I';
    case QtWarningMsg:
        return 'W';
    case QtCriticalMsg:
        return 'C';
    case QtFatalMsg:
        return 'F';
    }
    return '?';
}

QString rotatedName(const QString& folder, int index)
{
    return JoinPath(folder, Log::FileName() + QLatin1Char('.') + QString::number(index));
}

bool openFile(LogFile& log, QIODevice::OpenMode extra = QIODevice::NotOpen)
{
    log.file.setFileName(JoinPath(log.folder, Log::FileName()));
    return log.file.open(QIODevice::WriteOnly | QIODevice::Append | extra);
}

// tarvik.log becomes tarvik.log.1, .1 becomes .2 and so on; the oldest kept one is dropped.
void rotate(LogFile& log)
{
    log.file.close();
    QFile::remove(rotatedName(log.folder, Log::KeptFiles));
    for (int i = Log::KeptFiles - 1; i >= 1; --i)
        QFile::rename(rotatedName(log.folder, i), rotatedName(log.folder, i + 1));
    const bool moved = QFile::rename(JoinPath(log.folder, Log::FileName()), rotatedName(log.folder, 1));
    // Where the file cannot be moved away it is started again, so that it never grows without bound.
    openFile(log, moved ? QIODevice::NotOpen : QIODevice::Truncate);
}

void writeLine(LogFile& log, QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    QString text = message;
    text.replace(QLatin1String("\r\n"), QLatin1String("\\n"));
    text.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    const QByteArray line =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")).toUtf8() + ' ' +
        levelLetter(type) + ' ' + QByteArray(context.category ? context.category : "default") + ": " +
        text.toUtf8() + '\n';

    QMutexLocker lock(&log.mutex);
    if (!log.file.isOpen())
        return;
    if (log.file.size() > 0 && log.file.size() + line.size() > log.maxSize) {
        rotate(log);
        if (!log.file.isOpen())
            return;
    }
    log.file.write(line);
    log.file.flush();
}

void handleMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    QtMessageHandler previous = nullptr;
    if (!logFile.isDestroyed()) {
        previous = logFile->previous;
        if (!writingLine) {
            writingLine = true;
            writeLine(*logFile, type, context, message);
            writingLine = false;
        }
    }
    if (previous) {
        previous(type, context, message);
    } else {
        const QByteArray formatted = qFormatLogMessage(type, context, message).toLocal8Bit();
        std::fprintf(stderr, "%s\n", formatted.constData());
        std::fflush(stderr);
    }
}

} // namespace

namespace Log {

QString DefaultFolder()
{
    return JoinPath(DataDir(), QStringLiteral("logs"));
}

QString FileName()
{
    return QStringLiteral("tarvik.log");
}

bool Install(const QString& folder)
{
    LogFile& log = *logFile;
    {
        QMutexLocker lock(&log.mutex);
        log.file.close();
        log.folder = folder;
        if (!QDir().mkpath(folder) || !openFile(log))
            return false;
    }
    if (!log.installed) {
        log.previous = qInstallMessageHandler(handleMessage);
        log.installed = true;
    }
    return true;
}

void Uninstall()
{
    if (logFile.isDestroyed())
        return;
    LogFile& log = *logFile;
    if (log.installed) {
        qInstallMessageHandler(log.previous);
        log.previous = nullptr;
        log.installed = false;
    }
    QMutexLocker lock(&log.mutex);
    log.file.close();
    log.folder.clear();
}

QString FilePath()
{
    if (logFile.isDestroyed())
        return QString();
    QMutexLocker lock(&logFile->mutex);
    return logFile->file.isOpen() ? logFile->file.fileName() : QString();
}

void SetMaxFileSize(qint64 bytes)
{
    QMutexLocker lock(&logFile->mutex);
    logFile->maxSize = qMax<qint64>(1, bytes);
}

} // namespace Log
