#include "common/privatecups.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString systemPpd = QStringLiteral("/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd");
const QString pdfBackend = QStringLiteral("/usr/lib/cups/backend/cups-pdf");
constexpr int startMsecs = 30000;

QString path(const QTemporaryDir& root, const QString& name)
{
    return root.filePath(name);
}

} // namespace

QString PrivateCups::Unavailable()
{
    if (geteuid() != 0)
        return QStringLiteral("a private CUPS server needs root (to run cupsd and its backend); run as root, as CI does");
    for (const QString& program : {QStringLiteral("cupsd"), QStringLiteral("lpadmin"), QStringLiteral("cupsenable"),
                                   QStringLiteral("unshare"), QStringLiteral("setpriv"), QStringLiteral("mount"),
                                   QStringLiteral("pdftotext"), QStringLiteral("pdfinfo")})
        if (QStandardPaths::findExecutable(program).isEmpty() &&
            QStandardPaths::findExecutable(program, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")}).isEmpty())
            return program + QStringLiteral(" is missing (scripts/setup.sh test installs it)");
    if (!QFileInfo::exists(pdfBackend) || !QFileInfo::exists(systemPpd))
        return QStringLiteral("cups-pdf is missing (printer-driver-cups-pdf; scripts/setup.sh test installs it)");
    if (!QFileInfo(QStringLiteral("/etc/cups")).isDir())
        return QStringLiteral("/etc/cups is missing: cups-pdf reads its configuration there");
    // Root in a container without the right to make namespaces cannot give cups-pdf its own /etc/cups.
    QProcess probe;
    probe.start(QStringLiteral("unshare"), {QStringLiteral("--mount"), QStringLiteral("true")});
    if (!probe.waitForFinished(10000) || probe.exitStatus() != QProcess::NormalExit || probe.exitCode() != 0)
        return QStringLiteral("no mount namespace can be made here (unshare --mount failed: %1)")
            .arg(QString::fromLocal8Bit(probe.readAllStandardError()).trimmed());
    return QString();
}

PrivateCups::PrivateCups() = default;

PrivateCups::~PrivateCups()
{
    Stop();
}

QString PrivateCups::Socket() const
{
    return path(root, QStringLiteral("cups.sock"));
}

QString PrivateCups::OutputFolder(const QString& queue) const
{
    return path(root, QStringLiteral("out/") + queue);
}

QStringList PrivateCups::Pdfs(const QString& queue) const
{
    QStringList files;
    for (const QFileInfo& file :
         QDir(OutputFolder(queue)).entryInfoList({QStringLiteral("*.pdf")}, QDir::Files, QDir::Time | QDir::Reversed))
        files << file.absoluteFilePath();
    return files;
}

QString PrivateCups::ErrorLog() const
{
    QFile log(path(root, QStringLiteral("log/error_log")));
    if (!log.open(QIODevice::ReadOnly))
        return QStringLiteral("(no cupsd log)");
    const QByteArray text = log.readAll();
    return QString::fromUtf8(text.right(3000));
}

bool PrivateCups::WriteFile(const QString& file, const QByteArray& text, QString* error) const
{
    QFile out(file);
    if (out.open(QIODevice::WriteOnly | QIODevice::Truncate) && out.write(text) == text.size()) {
        out.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                           QFileDevice::ReadOther);
        return true;
    }
    *error = QStringLiteral("cannot write ") + file;
    return false;
}

// cups-pdf's own description with a roll as its default paper (297 mm long; a job names its length).
QByteArray PrivateCups::RollPpd(int rollMm, QString* error) const
{
    QFile source(systemPpd);
    if (!source.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read ") + systemPpd;
        return QByteArray();
    }
    QByteArray ppd = source.readAll();
    const QByteArray name = "Roll" + QByteArray::number(rollMm);
    const QByteArray title = name + '/' + QByteArray::number(rollMm) + " mm roll";
    const QByteArray width = QByteArray::number(rollMm * 72.0 / 25.4, 'f', 2);
    const QByteArray length = QByteArray::number(297 * 72.0 / 25.4, 'f', 2);
    const QByteArray setSize = "\"<</PageSize[" + width + ' ' + length + "]/ImagingBBox null>>setpagedevice\"";
    for (const QByteArray& keyword : {QByteArray("PageSize"), QByteArray("PageRegion"), QByteArray("ImageableArea"),
                                      QByteArray("PaperDimension")}) {
        ppd.replace("*Default" + keyword + ": A4", "*Default" + keyword + ": " + name);
        QByteArray value = setSize;
        if (keyword == "ImageableArea")
            value = "\"0 0 " + width + ' ' + length + '"';
        else if (keyword == "PaperDimension")
            value = '"' + width + ' ' + length + '"';
        ppd.replace('*' + keyword + " A4/A4:", '*' + keyword + ' ' + title + ": " + value + "\n*" + keyword + " A4/A4:");
    }
    // The filters make the copies, so that each copy is a page of the PDF the queue writes.
    ppd.replace("*PCFileName:", "*cupsManualCopies: True\n*PCFileName:");
    return ppd;
}

bool PrivateCups::Start(const QList<Queue>& queues, QString* error)
{
    if (!root.isValid()) {
        *error = QStringLiteral("no temporary folder");
        return false;
    }
    // cupsd runs its filters as lp: they must reach the spool and write their temporary files.
    const QFileDevice::Permissions open = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                         QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                         QFileDevice::ExeOther;
    QFile::setPermissions(root.path(), open);
    for (const char* folder : {"etc", "etc/ppd", "spool", "tmp", "cache", "state", "log", "cups-pdf", "cups-pdf-spool", "out"}) {
        QDir().mkpath(path(root, folder));
        QFile::setPermissions(path(root, folder), open);
    }
    ::chmod(path(root, QStringLiteral("tmp")).toLocal8Bit().constData(), 01777);

    const QByteArray top = root.path().toLocal8Bit();
    QByteArray files = "ServerRoot " + top + "/etc\nRequestRoot " + top + "/spool\nTempDir " + top +
                       "/tmp\nCacheDir " + top + "/cache\nStateDir " + top + "/state\nErrorLog " + top +
                       "/log/error_log\nAccessLog " + top + "/log/access_log\nPageLog " + top +
                       "/log/page_log\nPrintcap " + top + "/state/printcap\nUser lp\nGroup lp\nSystemGroup root\n"
                       "FileDevice No\n";
    QByteArray server = "Listen " + Socket().toLocal8Bit() +
                        "\nLogLevel debug\nBrowsing No\nWebInterface No\nDefaultAuthType None\n"
                        "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
                        "<Policy default>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n";
    // cairo's PostScript (pdftocairo, below) names every subset of a font alike, and Ghostscript's PDF
    // writer then takes the glyphs of one for the other: the PDF cups-pdf writes shows the text, but
    // part of it cannot be read back. Each subset gets a name of its own before Ghostscript sees it.
    const QString ghostscript = path(root, QStringLiteral("gs-distinct-fonts"));
    const QByteArray wrapper = "#!/bin/sh\nfor spool; do :; done\n"
                               "awk '/^\\/FontName \\/.* def$/ { n++; sub(/ def$/, \"-\" n \" def\") } { print }' "
                               "\"$spool\" > \"$spool.fonts\" && mv \"$spool.fonts\" \"$spool\"\nexec gs \"$@\"\n";
    if (!WriteFile(ghostscript, wrapper, error))
        return false;
    QFile::setPermissions(ghostscript, open);
    const QByteArray common = "\nSpool " + top + "/cups-pdf-spool\nLog " + top + "/log\nGrp root\nGhostScript " +
                              ghostscript.toLocal8Bit() + "\n";
    QByteArray pdfDefaults = "Out " + top + "/out\nAnonDirName " + top + "/out" + common;
    if (!WriteFile(path(root, QStringLiteral("etc/cups-files.conf")), files, error) ||
        !WriteFile(path(root, QStringLiteral("etc/cupsd.conf")), server, error) ||
        !WriteFile(path(root, QStringLiteral("cups-pdf/cups-pdf.conf")), pdfDefaults, error))
        return false;
    for (const Queue& queue : queues) {
        QDir().mkpath(OutputFolder(queue.name));
        const QByteArray config = "Out " + OutputFolder(queue.name).toLocal8Bit() + "\nAnonDirName " +
                                  OutputFolder(queue.name).toLocal8Bit() + common;
        const QByteArray ppd = RollPpd(queue.rollMm, error);
        if (ppd.isEmpty() ||
            !WriteFile(path(root, QStringLiteral("cups-pdf/cups-pdf-%1.conf").arg(queue.name)), config, error) ||
            !WriteFile(path(root, QStringLiteral("%1.ppd").arg(queue.name)), ppd, error))
            return false;
    }

    // In a mount namespace of its own, cups-pdf's /etc/cups is the test's folder; setpriv makes the
    // kernel end cupsd when this process ends, whatever way it ends.
    cupsd = std::make_unique<QProcess>();
    cupsd->setProcessChannelMode(QProcess::MergedChannels);
    cupsd->setStandardOutputFile(path(root, QStringLiteral("log/cupsd.out")));
    cupsd->start(QStringLiteral("unshare"),
                 {QStringLiteral("--mount"), QStringLiteral("--propagation"), QStringLiteral("private"),
                  QStringLiteral("sh"), QStringLiteral("-c"),
                  QStringLiteral("mount --bind \"$1\" /etc/cups && exec setpriv --pdeathsig TERM cupsd -f -c \"$2\" -s \"$3\""),
                  QStringLiteral("sh"), path(root, QStringLiteral("cups-pdf")),
                  path(root, QStringLiteral("etc/cupsd.conf")), path(root, QStringLiteral("etc/cups-files.conf"))});
    if (!cupsd->waitForStarted(startMsecs)) {
        *error = QStringLiteral("unshare did not start: ") + cupsd->errorString();
        return false;
    }
    const bool listening = QTest::qWaitFor(
        [this] {
            if (cupsd->state() != QProcess::Running)
                return true;
            QLocalSocket probe;
            probe.connectToServer(Socket());
            return probe.waitForConnected(200);
        },
        startMsecs);
    if (!listening || cupsd->state() != QProcess::Running) {
        *error = QStringLiteral("cupsd did not start listening on %1:\n%2").arg(Socket(), ErrorLog());
        return false;
    }
    for (const Queue& queue : queues) {
        // pdftocairo keeps the text of the receipt readable in the PDF cups-pdf writes.
        if (!Run(QStringLiteral("lpadmin"),
                 {QStringLiteral("-p"), queue.name, QStringLiteral("-E"), QStringLiteral("-v"),
                  QStringLiteral("cups-pdf:/") + queue.name, QStringLiteral("-P"),
                  path(root, QStringLiteral("%1.ppd").arg(queue.name)), QStringLiteral("-o"),
                  QStringLiteral("pdftops-renderer-default=pdftocairo")})) {
            *error = QStringLiteral("lpadmin could not add %1:\n%2").arg(queue.name, ErrorLog());
            return false;
        }
    }
    if (!queues.isEmpty() && !Run(QStringLiteral("lpadmin"), {QStringLiteral("-d"), queues.first().name})) {
        *error = QStringLiteral("lpadmin could not make %1 the default").arg(queues.first().name);
        return false;
    }
    return true;
}

void PrivateCups::Stop()
{
    if (!cupsd)
        return;
    if (cupsd->state() != QProcess::NotRunning) {
        cupsd->terminate();
        if (!cupsd->waitForFinished(15000)) {
            cupsd->kill();
            cupsd->waitForFinished(5000);
        }
    }
    cupsd.reset();
}

bool PrivateCups::Run(const QString& program, const QStringList& arguments, QString* output) const
{
    QProcess tool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("CUPS_SERVER"), Socket());
    tool.setProcessEnvironment(environment);
    QString found = QStandardPaths::findExecutable(program);
    if (found.isEmpty())
        found = QStandardPaths::findExecutable(program, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
    tool.start(found.isEmpty() ? program : found, arguments);
    if (!tool.waitForFinished(60000))
        return false;
    if (output)
        *output = QString::fromUtf8(tool.readAllStandardOutput());
    return tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0;
}

int PrivateCups::CompletedJobs(const QString& queue) const
{
    QString text;
    Run(QStringLiteral("lpstat"), {QStringLiteral("-W"), QStringLiteral("completed"), QStringLiteral("-o"), queue}, &text);
    return text.split(QLatin1Char('\n'), Qt::SkipEmptyParts).size();
}

int PrivateCups::UnfinishedJobs(const QString& queue) const
{
    QString text;
    Run(QStringLiteral("lpstat"), {QStringLiteral("-W"), QStringLiteral("not-completed"), QStringLiteral("-o"), queue},
        &text);
    return text.split(QLatin1Char('\n'), Qt::SkipEmptyParts).size();
}
