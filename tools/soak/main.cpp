// A shop's day on a flaky line, compressed: the real client logs in through its login window
// against velm-platform --simulate, and while simulated buyers order, ask for confirmation and
// review, faults of every kind hit random endpoints and a scripted staff member finishes,
// confirms and answers orders through the client's own windows. At the end the faults are
// cleared, one poll is awaited and the client is checked against the platform's database.
//
//   tarvik-soak [--seconds N] [--sim-pace S] [--poll-second MS] [--transfer-timeout MS]
//               [--tolerance MS] [--random-seed N]
//
// Prints one Markdown table; exits 1 when a check fails.
#include <QApplication>
#include <QComboBox>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <QtTest>

#include <csignal>
#include <map>
#include <sys/resource.h>
#include <unistd.h>

#include "common/clientlook.h"
#include "common/platformprocess.h"
#include "confirm/cwservertable.h"
#include "detail/corderwidget.h"
#include "main/cwmain.h"
#include "net/request.h"
#include "orders/corder.h"
#include "orders/orderbook.h"
#include "orders/pane/callist.h"
#include "orders/pane/corderitem.h"
#include "orders/pane/corderlist.h"
#include "orders/pollclock.h"
#include "session/cwlogin.h"
#include "ui/msgbox.h"
#include "common/mainwindow.h"

namespace {

QTextStream out(stdout);

const QString newOrderPoll = QStringLiteral("UpdateStaffOrderList");
const QString payFinishPoll = QStringLiteral("PayFinishOrder");
const QStringList staffEndpoints = {QStringLiteral("StaffFinishOrder"), QStringLiteral("StaffReply"),
                                    QStringLiteral("ToFinishOrder")};
// Where faults land: every endpoint the running client calls, all of them at once, and pictures.
const QStringList faultTargets = {QStringLiteral("UpdateStaffOrderList"),
                                  QStringLiteral("PayFinishOrder"),
                                  QStringLiteral("StaffOrder2"),
                                  QStringLiteral("StaffFinishOrder"),
                                  QStringLiteral("StaffReply"),
                                  QStringLiteral("ToFinishOrder"),
                                  QStringLiteral("*"),
                                  QStringLiteral("img")};
const QStringList faultKinds = {QStringLiteral("delay"),   QStringLiteral("hang"),  QStringLiteral("http500"),
                                QStringLiteral("notjson"), QStringLiteral("array"), QStringLiteral("refuse"),
                                QStringLiteral("close")};

QRandomGenerator dice;

int Between(int low, int high)
{
    return low + int(dice.bounded(quint32(high - low + 1)));
}

double ResidentMiB()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.value(1).toDouble() * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

double OwnCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double ProcessCpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    // The fields after the command name, which is in parentheses and may hold blanks.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) / double(sysconf(_SC_CLK_TCK));
}

// A crash must not leave the server behind: it would hold the output pipe of whoever started the
// soak (CTest) open until its own time-out.
pid_t platformPid = 0;

void KillPlatformAndDie(int signal)
{
    if (platformPid > 0)
        kill(platformPid, SIGKILL);
    std::signal(signal, SIG_DFL);
    raise(signal);
}

// ---- what the client sends and gets back

struct EndpointStats
{
    int sent = 0;
    int answered = 0; // HTTP 200 without a network error (the body may still be garbage)
    int failed = 0;
    int inFlight = 0;
    qint64 lastFinished = -1; // ms since the start of the soak
    qint64 longestSilence = 0;
    qint64 lastSentAt = -1;
    qint64 lastAnsweredSentAt = -1; // when the last answered request was sent
};

// Every manager the client makes through Request::CreateManager is one of these: each request is
// counted by endpoint, and each reply's end is timed, without touching the client's own handling.
class Recorder
{
public:
    QElapsedTimer clock;
    std::map<QString, EndpointStats> endpoints;

    void Sent(const QString& endpoint, QNetworkReply* reply)
    {
        EndpointStats& stats = endpoints[endpoint];
        ++stats.sent;
        ++stats.inFlight;
        const qint64 sentAt = clock.elapsed();
        stats.lastSentAt = sentAt;
        QObject::connect(reply, &QNetworkReply::finished, [this, endpoint, reply, sentAt] {
            EndpointStats& s = endpoints[endpoint];
            --s.inFlight;
            const int http = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
            if (reply->error() == QNetworkReply::NoError && http == 200) {
                ++s.answered;
                s.lastAnsweredSentAt = sentAt;
            } else {
                ++s.failed;
            }
            const qint64 now = clock.elapsed();
            if (s.lastFinished >= 0)
                s.longestSilence = qMax(s.longestSilence, now - s.lastFinished);
            s.lastFinished = now;
        });
    }

    // The silence so far, the one still running included.
    qint64 LongestSilence(const QString& endpoint)
    {
        EndpointStats& s = endpoints[endpoint];
        const qint64 running = s.lastFinished >= 0 ? clock.elapsed() - s.lastFinished : 0;
        return qMax(s.longestSilence, running);
    }

    int StaffInFlight()
    {
        int n = 0;
        for (const QString& endpoint : staffEndpoints)
            n += endpoints[endpoint].inFlight;
        return n;
    }
};

Recorder recorder;

class RecordingManager : public QNetworkAccessManager
{
public:
    using QNetworkAccessManager::QNetworkAccessManager;

protected:
    QNetworkReply* createRequest(Operation op, const QNetworkRequest& request, QIODevice* data) override
    {
        QNetworkReply* reply = QNetworkAccessManager::createRequest(op, request, data);
        const QString path = request.url().path();
        if (reply && path.contains(QLatin1String("/api/")))
            recorder.Sent(path.section(QLatin1Char('/'), -1), reply);
        return reply;
    }
};

QNetworkAccessManager* CreateRecordingManager(QObject* parent)
{
    return new RecordingManager(parent);
}

// ---- the admin API without blocking: the soak's own requests never run a nested event loop
// while the client works.

class Admin : public QObject
{
public:
    Admin(const QString& base, QObject* parent) : QObject(parent), base(base), manager(this) {}

    void Call(const QByteArray& method, const QString& path, const QJsonObject& body,
              std::function<void(const QJsonObject&)> done = nullptr)
    {
        QNetworkRequest request(QUrl(base + QStringLiteral("/admin/") + path));
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
        request.setTransferTimeout(10000);
        const QByteArray json =
            body.isEmpty() ? QByteArray() : QJsonDocument(body).toJson(QJsonDocument::Compact);
        QNetworkReply* reply = manager.sendCustomRequest(request, method, json);
        connect(reply, &QNetworkReply::finished, this, [reply, done] {
            reply->deleteLater();
            if (done)
                done(QJsonDocument::fromJson(reply->readAll()).object());
        });
    }

private:
    QString base;
    QNetworkAccessManager manager;
};

// ---- faults

class FaultInjector : public QObject
{
public:
    FaultInjector(Admin* admin, int transferTimeout, QObject* parent)
        : QObject(parent), admin(admin), transferTimeout(transferTimeout)
    {
        timer.setSingleShot(true);
        connect(&timer, &QTimer::timeout, this, [this] {
            InjectOne();
            timer.start(Between(400, 2000));
        });
    }

    void Start() { timer.start(Between(200, 1000)); }
    void Stop() { timer.stop(); }

    QMap<QString, int> byKind;
    QMap<QString, int> byTarget;
    int Count() const
    {
        int n = 0;
        for (int count : byKind)
            n += count;
        return n;
    }
    int lasting = 0; // faults that held until cleared rather than for a number of answers

private:
    // Kinds come from a shuffled bag, so that even a short run sees each of them.
    QString NextKind()
    {
        if (bag.isEmpty()) {
            bag = faultKinds;
            for (int i = bag.size() - 1; i > 0; --i)
                bag.swapItemsAt(i, Between(0, i));
        }
        return bag.takeLast();
    }

    void InjectOne()
    {
        const QString kind = NextKind();
        const QString target = faultTargets.at(Between(0, faultTargets.size() - 1));
        const bool untilCleared = Between(0, 5) == 0;
        QJsonObject fault{{"endpoint", target}, {"kind", kind}, {"times", untilCleared ? 0 : Between(1, 3)}};
        if (kind == QLatin1String("delay"))
            fault.insert("ms", Between(100, transferTimeout * 3 / 2)); // some outlast the time-out
        admin->Call("POST", QStringLiteral("faults"), fault, [this, kind, target](const QJsonObject& answer) {
            if (answer.value("status").toInt() != 1)
                return;
            ++byKind[kind];
            ++byTarget[target];
        });
        if (untilCleared) {
            ++lasting;
            QTimer::singleShot(Between(1000, 5000), this, [this, target] {
                admin->Call("DELETE",
                            QStringLiteral("faults/") + QString::fromLatin1(QUrl::toPercentEncoding(target)),
                            QJsonObject());
            });
        }
    }

    Admin* admin;
    int transferTimeout;
    QTimer timer;
    QStringList bag;
};

// ---- the staff member

// Works like a person at the counter: one thing at a time, through the client's own windows.
// Confirmation requests are clicked first; otherwise a paid order is opened from its row, the
// buyer's code typed and Enter pressed, or a reviewed order is answered the same way.
class Staff : public QObject
{
public:
    Staff(CAllList* pane, Admin* admin, int transferTimeout, QObject* parent)
        : QObject(parent), pane(pane), admin(admin), patience(4 * transferTimeout + 2000)
    {
        connect(&tick, &QTimer::timeout, this, [this] { Tick(); });
    }

    void Start()
    {
        tick.start(150);
        restUntil.start();
    }
    void Stop()
    {
        tick.stop();
        if (job.window)
            job.window->close();
        job = Job();
    }

    int finished = 0; // the order took its new status while its window was open
    int replied = 0;
    int confirmClicks = 0;
    int actionFailures = 0; // the window said the action failed (and the staff member gave up on it)
    int detailRetries = 0;  // "失败，请点击重试！" pressed
    int givenUp = 0;        // windows closed after waiting too long

private:
    enum class Kind
    {
        Finish,
        Reply
    };
    enum class Stage
    {
        None,
        Password,
        Opening,
        Submitted
    };
    struct Job
    {
        Kind kind = Kind::Finish;
        Stage stage = Stage::None;
        qint64 id = 0;
        QString text;
        QPointer<COrderWidget> window;
        QElapsedTimer since;
        int retries = 0;
    };

    void Tick()
    {
        if (job.stage == Stage::None) {
            if (restUntil.elapsed() < restMs)
                return;
            StartSomething();
            return;
        }
        if (job.since.elapsed() > patience) {
            ++givenUp;
            Done();
            return;
        }
        COrder* order = pane->Book()->Find(job.id);
        const int target = job.kind == Kind::Finish ? int(StatusServed.first) : int(StatusCompleted.first);
        const int expected = job.kind == Kind::Finish ? int(StatusPaid.first) : int(StatusReviewed.first);
        if (!order) {
            Done();
            return;
        }
        switch (job.stage) {
        case Stage::Password:
            break; // the admin answer moves on
        case Stage::Opening: {
            if (!job.window || order->GetStatus() != expected) {
                Done();
                return;
            }
            COrderWidget* window = job.window;
            if (window->RetryButton()->isVisible()) {
                if (job.retries++ >= 2) {
                    ++givenUp;
                    Done();
                    return;
                }
                ++detailRetries;
                QTest::mouseClick(window->RetryButton(), Qt::LeftButton);
                return;
            }
            QPushButton* button = window->ActionButton();
            QLineEdit* input = window->InputEdit();
            const QString label =
                job.kind == Kind::Finish ? QStringLiteral("结束服务") : QStringLiteral("回复评价");
            if (window->MessageBox()->IsLoading() || !button->isVisible() || !button->isEnabled() ||
                button->text() != label || !input->isVisible())
                return;
            input->clear();
            // Key events carry the buyer's code; a reply in Chinese comes in as an input method
            // would put it.
            if (job.kind == Kind::Finish)
                QTest::keyClicks(input, job.text);
            else
                input->insert(job.text);
            QTest::keyClick(input, Qt::Key_Return);
            job.stage = Stage::Submitted;
            break;
        }
        case Stage::Submitted: {
            if (order->GetStatus() == target) {
                ++(job.kind == Kind::Finish ? finished : replied);
                Done();
                return;
            }
            if (!job.window) {
                Done();
                return;
            }
            // The button comes back enabled when the platform or the line said no.
            QPushButton* button = job.window->ActionButton();
            if (button->isVisible() && button->isEnabled()) {
                ++actionFailures;
                Done();
            }
            break;
        }
        case Stage::None:
            break;
        }
    }

    void Done()
    {
        if (job.window)
            job.window->close();
        job = Job();
        restUntil.start();
        restMs = Between(200, 1000);
    }

    void StartSomething()
    {
        // Confirmation requests come about as often as new orders; half the time the staff member
        // serves a waiting order first.
        if (Between(0, 1) == 0 && ConfirmOne())
            return;
        const bool reply = Between(0, 3) == 0;
        COrderList* group = pane->FindList(reply ? int(StatusReviewed.first) : int(StatusPaid.first));
        if (!group || group->Count() == 0)
            return;
        COrderItem* item = group->Items().value(Between(0, group->Count() - 1));
        if (!item || !item->GetOrder())
            return;
        job = Job();
        job.kind = reply ? Kind::Reply : Kind::Finish;
        job.id = item->GetOrder()->GetId();
        job.since.start();
        if (reply) {
            job.text = QStringLiteral("谢谢光临，欢迎再来！");
            Open();
            return;
        }
        job.stage = Stage::Password;
        const qint64 id = job.id;
        admin->Call("GET", QStringLiteral("orders/%1").arg(id), QJsonObject(),
                    [this, id](const QJsonObject& answer) {
                        if (job.id != id || job.stage != Stage::Password)
                            return;
                        job.text = answer.value("info").toObject().value("password").toString();
                        if (job.text.isEmpty()) {
                            Done();
                            return;
                        }
                        Open();
                    });
    }

    // A double click on the row does the same: the blinking stops and the row's window opens.
    void Open()
    {
        COrderItem* item = pane->FindOrderItem(job.id);
        if (!item) {
            Done();
            return;
        }
        item->OpenOrderDetail();
        job.window = pane->DetailWindow(job.id);
        job.stage = Stage::Opening;
        if (!job.window)
            Done();
    }

    bool ConfirmOne()
    {
        CWServerTable* table = pane->ServerTable();
        if (!table || !table->Table())
            return false;
        for (int row = 0; row < table->Table()->rowCount(); ++row) {
            QTableWidgetItem* cell = table->Table()->item(row, CWServerTable::ConfirmColumn);
            const QTableWidgetItem* idCell = table->Table()->item(row, CWServerTable::IdColumn);
            if (!cell || !idCell)
                continue;
            const qlonglong id = idCell->text().toLongLong();
            const COrder* order = table->FindOrder(id);
            if (!order || order->GetStatus() != StatusPaid.first ||
                table->GetConfirmState(id) != CWServerTable::Idle)
                continue;
            // What a click on the cell triggers.
            emit table->Table()->itemClicked(cell);
            ++confirmClicks;
            restUntil.start();
            restMs = Between(200, 800);
            return true;
        }
        return false;
    }

    CAllList* pane;
    Admin* admin;
    qint64 patience;
    QTimer tick;
    Job job;
    QElapsedTimer restUntil;
    int restMs = 0;
};

// ---- the checks against the platform

struct Snapshot
{
    bool ok = false;
    QHash<qint64, int> status; // every order of the shop and its status
};

Snapshot TakeSnapshot(PlatformProcess& platform, const PlatformProcess::Session& session)
{
    Snapshot snapshot;
    const QJsonObject answer =
        platform.post(QStringLiteral("StaffOrderList"), session.form() + "&pager=1", 60000);
    if (answer.value("status").toInt() != 1)
        return snapshot;
    for (const QJsonValue& entry : answer.value("info").toObject().value("commos").toArray()) {
        const QJsonObject order = entry.toObject();
        snapshot.status.insert(order.value("id").toVariant().toLongLong(), order.value("status").toInt());
    }
    snapshot.ok = true;
    return snapshot;
}

// What is wrong with the client's view of one order, or nothing.
QString Disagreement(CAllList* pane, qint64 id, int platformStatus)
{
    const COrder* order = pane->Book()->Find(id);
    if (!order)
        return QStringLiteral("unknown to the client");
    if (order->GetStatus() != platformStatus)
        return QStringLiteral("client status %1, platform %2").arg(order->GetStatus()).arg(platformStatus);
    if (!HasGroup(platformStatus))
        return QString();
    const COrderList* group = pane->FindList(platformStatus);
    if (!group || !group->Contains(id))
        return QStringLiteral("no row in group %1").arg(platformStatus);
    return QString();
}

struct Verdict
{
    QStringList problems;
    int created = 0;      // orders the platform holds now that it did not hold at the start
    int createdShown = 0; // of those, known to the client with a row in the right group
    int rows = 0;
};

Verdict Check(CAllList* pane, PlatformProcess& platform, const Snapshot& start, const Snapshot& end)
{
    Verdict verdict;
    QSet<qint64> wrong;
    for (auto it = end.status.cbegin(); it != end.status.cend(); ++it) {
        QString problem = Disagreement(pane, it.key(), it.value());
        if (!problem.isEmpty()) {
            // The platform moved on after the snapshot (a buyer reviewing, say) and the client
            // already followed: that is no loss.
            const int now = platform.order(it.key()).value("status").toInt(-1);
            if (now != it.value() && Disagreement(pane, it.key(), now).isEmpty())
                problem.clear();
        }
        const bool isNew = !start.status.contains(it.key());
        verdict.created += isNew;
        if (problem.isEmpty()) {
            verdict.createdShown += isNew;
            continue;
        }
        wrong.insert(it.key());
        verdict.problems << QStringLiteral("order %1: %2").arg(it.key()).arg(problem);
    }
    // And the other way round: no row twice, none in a group its order does not belong to.
    QHash<qint64, int> rowsOf;
    for (COrderList* group : pane->Lists())
        for (const QPointer<COrderItem>& item : group->Items()) {
            if (!item || !item->GetOrder())
                continue;
            ++verdict.rows;
            const qint64 id = item->GetOrder()->GetId();
            if (++rowsOf[id] == 2)
                verdict.problems << QStringLiteral("order %1: more than one row").arg(id);
            if (!wrong.contains(id) && end.status.contains(id) && end.status.value(id) != group->GetState() &&
                platform.order(id).value("status").toInt(-1) != group->GetState())
                verdict.problems
                    << QStringLiteral("order %1: row in group %2").arg(id).arg(group->GetState());
        }
    return verdict;
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMs)
{
    return QTest::qWaitFor(condition, timeoutMs);
}

QString Ms(qint64 ms)
{
    return QString::number(ms) + QStringLiteral(" ms");
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir dataHome;
    qputenv("XDG_DATA_HOME", dataHome.path().toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", dataHome.path().toLocal8Bit());
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    TestSupport::LookLikeTheClient(app);
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (type != QtDebugMsg && type != QtInfoMsg && !text.contains(QLatin1String("window opacity")))
            fprintf(stderr, "%s\n", qPrintable(text));
    });
    out.setCodec("UTF-8");

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Soak of the Tarvik client under injected faults"));
    parser.addHelpOption();
    const QCommandLineOption secondsOption(QStringLiteral("seconds"), QStringLiteral("length of the run"),
                                           QStringLiteral("N"), QStringLiteral("600"));
    const QCommandLineOption paceOption(QStringLiteral("sim-pace"),
                                        QStringLiteral("velm-platform --sim-pace"), QStringLiteral("S"),
                                        QStringLiteral("1"));
    const QCommandLineOption secondOption(QStringLiteral("poll-second"),
                                          QStringLiteral("length of one poll second in ms (production 1000)"),
                                          QStringLiteral("MS"), QStringLiteral("100"));
    const QCommandLineOption timeoutOption(QStringLiteral("transfer-timeout"),
                                           QStringLiteral("request time-out in ms (production 30000)"),
                                           QStringLiteral("MS"), QStringLiteral("2000"));
    const QCommandLineOption toleranceOption(
        QStringLiteral("tolerance"),
        QStringLiteral("allowed lateness of a poll on top of its interval "
                       "and the time-out, in ms"),
        QStringLiteral("MS"), QStringLiteral("1000"));
    const QCommandLineOption seedOption(QStringLiteral("random-seed"),
                                        QStringLiteral("seed of the fault dice"), QStringLiteral("N"));
    parser.addOptions({secondsOption, paceOption, secondOption, timeoutOption, toleranceOption, seedOption});
    parser.process(app);
    const int seconds = qMax(5, parser.value(secondsOption).toInt());
    const QString pace = parser.value(paceOption);
    const int pollSecond = qMax(1, parser.value(secondOption).toInt());
    const int transferTimeout = qMax(100, parser.value(timeoutOption).toInt());
    const int tolerance = qMax(0, parser.value(toleranceOption).toInt());
    const quint32 seed = parser.isSet(seedOption) ? parser.value(seedOption).toUInt()
                                                  : quint32(QDateTime::currentMSecsSinceEpoch());
    dice.seed(seed);

    PollClock::SetSecondLength(pollSecond);
    Request::SetTransferTimeout(transferTimeout);
    Request::SetManagerFactory(CreateRecordingManager);
    recorder.clock.start();

    const double rssStart = ResidentMiB();
    const double cpuStart = OwnCpuSeconds();
    QStringList failures;

    PlatformProcess platform({QStringLiteral("--seed"), QStringLiteral("--simulate"),
                              QStringLiteral("--sim-pace"), pace, QStringLiteral("--page-size"),
                              QStringLiteral("100000")});
    if (!platform.isRunning()) {
        out << "velm-platform: " << platform.errorString() << "\n";
        return 1;
    }
    platformPid = pid_t(platform.process().processId());
    for (int signal : {SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTERM, SIGINT})
        std::signal(signal, KillPlatformAndDie);
    platform.serveClient();
    const PlatformProcess::Session soakSession =
        platform.login(PlatformProcess::DemoAccount, QString::fromLatin1(PlatformProcess::DemoPassword));
    const Snapshot start = TakeSnapshot(platform, soakSession);
    // The first full list meets a fault as well: the pane must retry it.
    platform.setFault(QStringLiteral("StaffOrderList"), faultKinds.at(Between(0, faultKinds.size() - 1)),
                      QVariant(), 1);

    // Logging in the way a staff member does.
    QPointer<CWLogin> login = new CWLogin;
    login->show();
    login->AccountBox()->setEditText(QString::number(PlatformProcess::DemoAccount));
    login->PasswordBox()->setText(QString::fromLatin1(PlatformProcess::DemoPassword));
    QTest::keyClick(login->PasswordBox(), Qt::Key_Return);
    if (!WaitFor([] { return MainWindow() && MainWindow()->AllList(); }, 30000)) {
        out << "the login did not open the main window\n";
        return 1;
    }
    QPointer<CWMain> shop = MainWindow();
    // The soak ends the session itself.
    QObject::disconnect(shop, &CWidget::Close, nullptr, nullptr);
    CAllList* pane = shop->AllList();
    if (!WaitFor([&] { return recorder.endpoints[payFinishPoll].answered > 0; }, 60000))
        failures << QStringLiteral("the polls never started");

    Admin admin(platform.baseUrl(), nullptr);
    FaultInjector faults(&admin, transferTimeout, nullptr);
    Staff staff(pane, &admin, transferTimeout, nullptr);
    faults.Start();
    staff.Start();
    QElapsedTimer run;
    run.start();
    const double rssAfterLogin = ResidentMiB();
    int minute = 0;
    while (run.elapsed() < qint64(seconds) * 1000 && platform.isRunning()) {
        QTest::qWait(200);
        if (run.elapsed() / 60000 > minute) {
            minute = int(run.elapsed() / 60000);
            fprintf(stderr, "soak: %d min, %d orders, %d faults, RSS %.1f MiB\n", minute,
                    pane->Book()->Count(), faults.Count(), ResidentMiB());
        }
    }

    // The line comes back: no more faults, the staff member stops, one poll of each kind.
    faults.Stop();
    staff.Stop();
    if (!platform.clearFaults())
        failures << QStringLiteral("the faults could not be cleared");
    const int newOrderInterval = PollClock::Msecs(20);
    const int payFinishInterval = PollClock::Msecs(3);
    WaitFor([] { return recorder.StaffInFlight() == 0; }, 3 * transferTimeout);
    const qint64 settled = recorder.clock.elapsed();
    // Any poll still under a fault set before the clear ends by its time-out; the poll after it
    // sees the platform as it is.
    WaitFor([&] { return recorder.endpoints[payFinishPoll].lastAnsweredSentAt > settled; },
            2 * (payFinishInterval + transferTimeout) + tolerance);
    const Snapshot end = TakeSnapshot(platform, soakSession);
    const qint64 snapped = recorder.clock.elapsed();
    const bool polled = WaitFor(
        [&] {
            return recorder.endpoints[newOrderPoll].lastAnsweredSentAt > snapped &&
                   recorder.endpoints[payFinishPoll].lastAnsweredSentAt > snapped;
        },
        2 * (newOrderInterval + transferTimeout) + tolerance);
    if (!polled)
        failures << QStringLiteral("no successful poll of both kinds after the faults were cleared");
    if (!end.ok || !start.ok)
        failures << QStringLiteral("the platform's order list could not be read");

    const Verdict verdict = Check(pane, platform, start, end);
    for (const QString& problem : verdict.problems.mid(0, 20))
        failures << problem;
    if (verdict.problems.size() > 20)
        failures << QStringLiteral("... %1 more").arg(verdict.problems.size() - 20);

    const qint64 newOrderSilence = recorder.LongestSilence(newOrderPoll);
    const qint64 payFinishSilence = recorder.LongestSilence(payFinishPoll);
    const qint64 newOrderLimit = newOrderInterval + transferTimeout + tolerance;
    const qint64 payFinishLimit = payFinishInterval + transferTimeout + tolerance;
    if (newOrderSilence > newOrderLimit)
        failures << QStringLiteral("the new-order poll was silent for %1").arg(Ms(newOrderSilence));
    if (payFinishSilence > payFinishLimit)
        failures << QStringLiteral("the pay/finish poll was silent for %1").arg(Ms(payFinishSilence));
    if (!platform.isRunning())
        failures << QStringLiteral("velm-platform stopped");
    int injected = 0;
    for (const QString& kind : faultKinds) {
        injected += faults.byKind.value(kind);
        if (faults.byKind.value(kind) == 0)
            failures << QStringLiteral("no %1 fault was injected").arg(kind);
    }

    const double platformCpu = ProcessCpuSeconds(platform.process().processId());
    const double rssEnd = ResidentMiB();
    const double cpu = OwnCpuSeconds() - cpuStart;
    const double wall = recorder.clock.elapsed() / 1000.0;

    // The session ends as closing the main window ends it.
    shop->close();
    WaitFor([&] { return !shop; }, 5000);
    delete shop.data();
    delete login.data();
    for (QWidget* window : QApplication::topLevelWidgets())
        if (qobject_cast<COrderWidget*>(window))
            delete window;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    auto endpointRow = [](const QString& name) {
        const EndpointStats& s = recorder.endpoints[name];
        return QStringLiteral("%1 sent, %2 answered, %3 failed").arg(s.sent).arg(s.answered).arg(s.failed);
    };
    QStringList kinds;
    for (const QString& kind : faultKinds)
        kinds << QStringLiteral("%1 %2").arg(kind).arg(faults.byKind.value(kind));
    QStringList targets;
    for (const QString& target : faultTargets)
        targets << QStringLiteral("%1 %2").arg(target).arg(faults.byTarget.value(target));

    out << "| soak | " << seconds << " s, seed " << seed << " |\n|---|---|\n";
    out << "| set-up | velm-platform --seed --simulate --sim-pace " << pace << "; poll second " << pollSecond
        << " ms, so the new-order poll runs every " << Ms(newOrderInterval)
        << " and the pay/finish poll every " << Ms(payFinishInterval)
        << " after each reply; transfer time-out " << Ms(transferTimeout) << " |\n";
    out << "| orders created during the run | " << verdict.created << " |\n";
    out << QString::fromUtf8("| — of which known")
        << " to the client, row in the group of their platform status | " << verdict.createdShown << " |\n";
    out << "| all orders of the shop / rows shown | " << end.status.size() << " / " << verdict.rows << " |\n";
    for (const QString& name :
         {newOrderPoll, payFinishPoll, QStringLiteral("StaffOrderList"), QStringLiteral("StaffOrder2"),
          QStringLiteral("StaffFinishOrder"), QStringLiteral("StaffReply"), QStringLiteral("ToFinishOrder")})
        out << "| requests " << name << " | " << endpointRow(name) << " |\n";
    out << "| faults injected | " << injected << ": " << kinds.join(QStringLiteral(", ")) << " |\n";
    out << QString::fromUtf8("| — by target | ") << targets.join(QStringLiteral(", ")) << "; "
        << faults.lasting << " held until cleared, the others for 1 to 3 answers |\n";
    out << "| staff member | " << staff.finished << " finished, " << staff.confirmClicks
        << " confirmations clicked, " << staff.replied << " reviews answered, " << staff.actionFailures
        << " actions refused or failed, " << staff.detailRetries << " detail retries, " << staff.givenUp
        << " windows given up |\n";
    out << "| longest silence, new-order poll | " << Ms(newOrderSilence) << " (limit " << Ms(newOrderInterval)
        << " + " << Ms(transferTimeout) << " + " << Ms(tolerance) << " slack) |\n";
    out << "| longest silence, pay/finish poll | " << Ms(payFinishSilence) << " (limit "
        << Ms(payFinishInterval) << " + " << Ms(transferTimeout) << " + " << Ms(tolerance) << " slack) |\n";
    out << "| RSS at start / after login / at end | " << QString::number(rssStart, 'f', 1) << " / "
        << QString::number(rssAfterLogin, 'f', 1) << " / " << QString::number(rssEnd, 'f', 1) << " MiB |\n";
    out << "| CPU used, client / velm-platform | " << QString::number(cpu, 'f', 1) << " s ("
        << QString::number(100.0 * cpu / qMax(1.0, wall), 'f', 1) << " % of " << QString::number(wall, 'f', 0)
        << " s) / " << QString::number(platformCpu, 'f', 1) << " s |\n";
    out << "| result | "
        << (failures.isEmpty() ? QStringLiteral("passed: nothing lost, no poll stopped, no crash")
                               : QStringLiteral("FAILED"))
        << " |\n";
    for (const QString& failure : failures)
        out << "- " << failure << "\n";
    out.flush();
    return failures.isEmpty() ? 0 : 1;
}
