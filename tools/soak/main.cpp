// A shop's day on a flaky line, compressed: the real client logs in through its login window
// against velm-platform --simulate --sim-pay-later, and while simulated buyers order (half of them
// paying a moment after they placed the order), ask for confirmation and review, faults of every
// kind hit random endpoints and a scripted staff member finishes, confirms, answers and looks at
// orders through the client's own windows. At the end the faults are cleared, one poll is awaited
// and the client is checked against the platform's database, and its alarms against the
// platform's event log (GET /admin/events).
//
//   tarvik-soak [--seconds N] [--sim-pace S] [--poll-second MS] [--transfer-timeout MS]
//               [--tolerance MS] [--random-seed N] [--new-order-poll S] [--reminder S]
//
// The new-order poll runs every 5 poll seconds instead of 20, next to the pay/finish poll's 3, so
// that it often lists an order between its payment and the pay/finish poll that reports the
// payment; the reminder rings every 30 poll seconds.
//
// The alarms. Times are the wall clock of this machine, which the platform's log uses too; an
// event of the platform is timed before it is committed, so no reply tells of it earlier. The
// client's side is recorded from its own signals: CNewOrders::Arrived (a new order announced: its
// row blinks, and the reply that brought it plays "audio/neworder.mp3" once),
// COrderPolls::ConfirmationAsked (an order handed to "待确认订单" with "audio/notify.wav") and
// CNewOrderReminder::Reminded (the reminder rang for these orders).
//
// - New orders. A payment is an event that makes an order paid (created paid, or paid later),
//   unless the login's full list already held the order as paid. Each arrival uses up the
//   earliest payment of its order made before it. An arrival with none left is false (the order
//   was listed paid at login, was never paid, or had been announced already). A payment made
//   before the last snapshot of the run with no arrival is missed; expected counts those payments.
// - Confirmations. A buyer's request is an event that asks the shop to confirm a paid order. Each
//   hand-over uses up one request of its order made before it: the one whose update stamp is the
//   stamp the order had in the book when it was handed over, and only if the client held an older
//   stamp (or none) before: a stamp the client learnt the order with is no request. A hand-over
//   with no such request is false, so one request counted twice is false once. A request is due
//   when the client held the order as paid before the buyer asked and a pay/finish answer sent
//   after the request reached the client while the order was still paid on the platform; a due
//   request with no hand-over of its order after it, at its stamp or a later one, is missed. The
//   end of the run needs no tolerance: a request whose answer is still on its way is not due.
//   expected counts the due requests.
// - Reminders, counted per order named in a ring. A ring for an order is false when the staff
//   member had opened it, the session had taken it as dealt with, the book held it as not paid,
//   it was never a new order, or it had left paid on the platform and a pay/finish answer sent
//   after that had reached the client. A new order waits from its first arrival until it is
//   opened, dealt with, leaves paid in the book, or the run ends; every stretch of that wait
//   without a ring for it (from the arrival to the first ring, between rings, from the last ring
//   to the end) longer than the interval plus the tolerance misses one ring per interval beyond
//   the tolerance. expected counts whole intervals of waiting. The tolerance is half an interval,
//   or --tolerance if that is longer: a busy GUI thread delays a timer.
// - The sounds: the new-order sound is asked for exactly once per reply that brought new orders
//   plus once per reminder, the confirmation sound never more often than replies asked for
//   confirmation.
//
// Prints two Markdown tables, the run and its alarms (expected, rung, false, missed per kind);
// exits 1 when a check fails, a false or missed alarm included. TARVIK_SOAK_LOG=1 prints the
// client's log with times (QT_LOGGING_RULES="tarvik.*.debug=true" for all of it) to follow one
// order through it.
#include <QApplication>
#include <QComboBox>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QPushButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <QtTest>

#include <csignal>
#include <map>
#include <sys/resource.h>
#include <unistd.h>

#include "alarms.h"
#include "app/settings.h"
#include "app/ui/client.h"
#include "common/clientlook.h"
#include "common/mainwindow.h"
#include "common/platformprocess.h"
#include "common/windowparts.h"
#include "confirm/ui/cwservertable.h"
#include "detail/ui/corderwidget.h"
#include "main/ui/cwmain.h"
#include "main/reminder.h"
#include "net/request.h"
#include "orders/corder.h"
#include "orders/neworders.h"
#include "orders/orderbook.h"
#include "orders/orderpolls.h"
#include "orders/ui/callist.h"
#include "orders/ui/corderitem.h"
#include "orders/ui/corderlist.h"
#include "orders/pollclock.h"
#include "session/csession.h"
#include "session/ui/cwlogin.h"
#include "ui/msgbox.h"

namespace {

QTextStream out(stdout);
Q_LOGGING_CATEGORY(lcSoak, "tarvik.soak")

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

// Every manager the client makes (the session options' network maker) is one of these: each request is
// counted by endpoint, and each reply's end is timed, without touching the client's own handling.
class Recorder
{
public:
    QElapsedTimer clock;
    quint64 serials = 0;
    std::map<QString, EndpointStats> endpoints;

    // The reply the client reads right now: this connection to finished() is made before the
    // client's own, so it runs first, and the reply is let go once the client is done with it.
    ReplyInHand inHand;

    void Sent(const QString& endpoint, QNetworkReply* reply)
    {
        EndpointStats& stats = endpoints[endpoint];
        ++stats.sent;
        ++stats.inFlight;
        const qint64 sentAt = clock.elapsed();
        const qint64 sentAtEpoch = QDateTime::currentMSecsSinceEpoch();
        stats.lastSentAt = sentAt;
        QObject::connect(reply, &QNetworkReply::finished, [this, endpoint, reply, sentAt, sentAtEpoch] {
            Hold(endpoint, reply, sentAtEpoch);
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

    void Hold(const QString& endpoint, QNetworkReply* reply, qint64 sentAtEpoch)
    {
        inHand = ReplyInHand();
        inHand.serial = ++serials;
        inHand.endpoint = endpoint;
        inHand.sentAt = sentAtEpoch;
        if (endpoint == payFinishPoll) {
            // Read without taking it from the client.
            const QJsonObject answer = QJsonDocument::fromJson(reply->peek(reply->bytesAvailable())).object();
            const QJsonArray commos = answer.value("info").toObject().value("commos").toArray();
            QStringList told;
            for (const QJsonValue& value : commos) {
                const QJsonObject entry = value.toObject();
                inHand.entries.append({entry.value("id").toVariant().toLongLong(),
                                       entry.value("status").toInt(), entry.value("ertime").toString()});
                told << QStringLiteral("%1/%2/%3")
                            .arg(inHand.entries.last().id)
                            .arg(inHand.entries.last().status)
                            .arg(inHand.entries.last().ertime);
            }
            qCDebug(lcSoak, "PayFinishOrder reply %llu sent at %s: %s", inHand.serial,
                    qPrintable(
                        QDateTime::fromMSecsSinceEpoch(sentAtEpoch).toString(QStringLiteral("hh:mm:ss.zzz"))),
                    qPrintable(told.join(QLatin1Char(' '))));
        }
        const quint64 serial = inHand.serial;
        QMetaObject::invokeMethod(
            qApp,
            [this, serial] {
                if (inHand.serial == serial)
                    inHand = ReplyInHand();
            },
            Qt::QueuedConnection);
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
// buyer's code typed and Enter pressed, or a reviewed order is answered the same way; now and
// then a blinking new order is only looked at (opened and closed again, still paid).
class Staff : public QObject
{
public:
    Staff(CAllList* pane, Admin* admin, AlarmWitness* witness, int transferTimeout, QObject* parent)
        : QObject(parent), pane(pane), admin(admin), witness(witness), patience(4 * transferTimeout + 2000)
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
    int lookedAt = 0;       // new orders opened and closed again without an action

private:
    enum class Kind
    {
        Finish,
        Reply,
        Look
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
        int lookMs = 0;
    };

    void Tick()
    {
        if (job.stage == Stage::None) {
            if (restUntil.elapsed() < restMs)
                return;
            StartSomething();
            return;
        }
        if (job.kind == Kind::Look) {
            if (!job.window || job.since.elapsed() >= job.lookMs) {
                lookedAt += bool(job.window);
                Done();
            }
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
            if (PartOf<QPushButton>(window, "retryButton")->isVisible()) {
                if (job.retries++ >= 2) {
                    ++givenUp;
                    Done();
                    return;
                }
                ++detailRetries;
                QTest::mouseClick(PartOf<QPushButton>(window, "retryButton"), Qt::LeftButton);
                return;
            }
            QPushButton* button = PartOf<QPushButton>(window, "actionButton");
            QLineEdit* input = PartOf<QLineEdit>(window, "inputEdit");
            const QString label =
                job.kind == Kind::Finish ? QStringLiteral("结束服务") : QStringLiteral("回复评价");
            if (MessageBoxOf(window)->IsLoading() || !button->isVisible() || !button->isEnabled() ||
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
            QPushButton* button = PartOf<QPushButton>(job.window, "actionButton");
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
        if (Between(0, 4) == 0 && LookAtANewOrder())
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
        witness->Opened(job.id);
        item->OpenOrderDetail();
        job.window = DetailWindowOf(job.id);
        job.stage = Stage::Opening;
        if (!job.window)
            Done();
    }

    bool LookAtANewOrder()
    {
        const QList<qint64> waiting = pane->Session()->NewOrders()->Waiting();
        if (waiting.isEmpty())
            return false;
        job = Job();
        job.kind = Kind::Look;
        job.id = waiting.at(Between(0, waiting.size() - 1));
        job.lookMs = Between(300, 1500);
        job.since.start();
        Open();
        return true;
    }

    bool ConfirmOne()
    {
        CWServerTable* table = ServerTableWindow();
        QTableWidget* rows = ConfirmTable(table);
        if (!rows)
            return false;
        for (int row = 0; row < rows->rowCount(); ++row) {
            QTableWidgetItem* cell = rows->item(row, CWServerTable::ConfirmColumn);
            const QTableWidgetItem* idCell = rows->item(row, CWServerTable::IdColumn);
            if (!cell || !idCell)
                continue;
            const qlonglong id = idCell->text().toLongLong();
            const COrder* order = table->FindOrder(id);
            if (!order || order->GetStatus() != StatusPaid.first ||
                table->GetConfirmState(id) != CWServerTable::Idle)
                continue;
            // What a click on the cell triggers.
            emit rows->itemClicked(cell);
            ++confirmClicks;
            restUntil.start();
            restMs = Between(200, 800);
            return true;
        }
        return false;
    }

    CAllList* pane;
    Admin* admin;
    AlarmWitness* witness;
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
    QHash<qint64, int> status;     // every order of the shop and its status
    QHash<qint64, QString> ertime; // and its update stamp
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
        snapshot.ertime.insert(order.value("id").toVariant().toLongLong(), order.value("ertime").toString());
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

// Calls `watch` once, with the session of the first main window that shows.
class SessionHook : public QObject
{
public:
    explicit SessionHook(std::function<void(CSession*)> watch) : watch(std::move(watch)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watch && event->type() == QEvent::Show) {
            auto* window = qobject_cast<CWMain*>(watched);
            if (window && window->Session()) {
                const std::function<void(CSession*)> call = std::move(watch);
                watch = nullptr;
                call(window->Session());
            }
        }
        return false;
    }

private:
    std::function<void(CSession*)> watch;
};

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
    // TARVIK_SOAK_LOG=1 prints the client's whole log with times (QT_LOGGING_RULES picks the
    // categories, e.g. "tarvik.*.debug=true"), to follow one order through it.
    static const bool everything = qEnvironmentVariableIntValue("TARVIK_SOAK_LOG") != 0;
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& text) {
        if (everything)
            fprintf(stderr, "%s %s: %s\n",
                    qPrintable(QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz"))),
                    context.category ? context.category : "", qPrintable(text));
        else if (type != QtDebugMsg && type != QtInfoMsg && !text.contains(QLatin1String("window opacity")))
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
    const QCommandLineOption newOrderPollOption(
        QStringLiteral("new-order-poll"),
        QStringLiteral("poll seconds between new-order polls (production 20)"), QStringLiteral("S"),
        QStringLiteral("5"));
    const QCommandLineOption reminderOption(
        QStringLiteral("reminder"), QStringLiteral("the reminder's interval in poll seconds: 30, 60 or 120"),
        QStringLiteral("S"), QStringLiteral("30"));
    parser.addOptions({secondsOption, paceOption, secondOption, timeoutOption, toleranceOption, seedOption,
                       newOrderPollOption, reminderOption});
    parser.process(app);
    const int seconds = qMax(5, parser.value(secondsOption).toInt());
    const QString pace = parser.value(paceOption);
    const int pollSecond = qMax(1, parser.value(secondOption).toInt());
    const int transferTimeout = qMax(100, parser.value(timeoutOption).toInt());
    const int tolerance = qMax(0, parser.value(toleranceOption).toInt());
    const int newOrderSeconds = qMax(1, parser.value(newOrderPollOption).toInt());
    const int reminderSeconds = parser.value(reminderOption).toInt();
    if (!CSettings::ReminderChoices().contains(reminderSeconds) || reminderSeconds == 0) {
        out << "--reminder: 30, 60 or 120\n";
        return 2;
    }
    const quint32 seed = parser.isSet(seedOption) ? parser.value(seedOption).toUInt()
                                                  : quint32(QDateTime::currentMSecsSinceEpoch());
    dice.seed(seed);

    // The client's login and session: a short second, a short time-out, every request recorded.
    SessionOptions options;
    options.clock.secondMs = pollSecond;
    options.transferTimeoutMs = transferTimeout;
    options.makeNetwork = CreateRecordingManager;
    recorder.clock.start();

    const double rssStart = ResidentMiB();
    const double cpuStart = OwnCpuSeconds();
    QStringList failures;

    PlatformProcess platform({QStringLiteral("--seed"), QStringLiteral("--simulate"),
                              QStringLiteral("--sim-pace"), pace, QStringLiteral("--sim-pay-later"),
                              QStringLiteral("--page-size"), QStringLiteral("100000")});
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

    // The session is watched from the moment the main window shows, before its first full list
    // can arrive: the login makes both in one go and shows the window before it returns.
    AlarmWitness witness(&recorder.inHand);
    SessionHook hook([&](CSession* session) {
        witness.Watch(session);
        session->Polls()->SetNewOrderSeconds(newOrderSeconds);
        session->Settings()->SetReminderInterval(reminderSeconds);
    });
    app.installEventFilter(&hook);

    // Logging in the way a staff member does.
    // The soak ends the session itself: the client's end is not heard.
    CClient client(options);
    client.Start();
    QPointer<CWLogin> login = LoginWindow();
    LoginForm::Account(login)->setEditText(QString::number(PlatformProcess::DemoAccount));
    LoginForm::Password(login)->setText(QString::fromLatin1(PlatformProcess::DemoPassword));
    QTest::keyClick(LoginForm::Password(login), Qt::Key_Return);
    if (!WaitFor([] { return MainParts::Pane(MainWindow()); }, 30000)) {
        out << "the login did not open the main window\n";
        return 1;
    }
    QPointer<CWMain> shop = MainWindow();
    CAllList* pane = MainParts::Pane(shop);
    if (!WaitFor([&] { return recorder.endpoints[payFinishPoll].answered > 0; }, 60000))
        failures << QStringLiteral("the polls never started");

    Admin admin(platform.baseUrl(), nullptr);
    FaultInjector faults(&admin, transferTimeout, nullptr);
    Staff staff(pane, &admin, &witness, transferTimeout, nullptr);
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
    const int newOrderInterval = options.clock.Msecs(newOrderSeconds);
    const int payFinishInterval = options.clock.Msecs(3);
    WaitFor([] { return recorder.StaffInFlight() == 0; }, 3 * transferTimeout);
    const qint64 settled = recorder.clock.elapsed();
    // Any poll still under a fault set before the clear ends by its time-out; the poll after it
    // sees the platform as it is.
    WaitFor([&] { return recorder.endpoints[payFinishPoll].lastAnsweredSentAt > settled; },
            2 * (payFinishInterval + transferTimeout) + tolerance);
    const qint64 cut = QDateTime::currentMSecsSinceEpoch();
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

    // The alarms against the platform's log.
    app.removeEventFilter(&hook);
    AlarmRules rules;
    rules.cut = cut;
    rules.judgedAt = QDateTime::currentMSecsSinceEpoch();
    rules.reminderMsecs = reminderSeconds * pollSecond;
    // A reminder's timer may fire late while the GUI thread is busy (a sanitizer build on a loaded
    // machine): half an interval, or the soak's tolerance if that is longer.
    rules.toleranceMsecs = qMax(tolerance, rules.reminderMsecs / 2);
    const QStringList printed = platform.outputLines(); // read first: each line follows its event
    const QJsonArray events =
        platform.admin("GET", QStringLiteral("events")).value("info").toObject().value("events").toArray();
    const AlarmVerdict alarms = JudgeAlarms(witness, events, rules);
    if (!alarms.ok)
        failures << QStringLiteral("the platform's event log could not be read");
    // The log is the oracle: every order's stamp at the last snapshot is one it logged.
    QSet<QString> logged;
    for (const QJsonValue& event : events)
        logged.insert(QStringLiteral("%1/%2")
                          .arg(event["id"].toVariant().toLongLong())
                          .arg(event["ertime"].toString()));
    // And it agrees with what the simulated buyers printed.
    QHash<QString, int> logCounts;
    for (const QJsonValue& event : events) {
        const QString id = event["id"].toVariant().toString();
        if (event["request"].toBool())
            ++logCounts[QStringLiteral("request ") + id];
        if (event["status"].toInt() == 1 && event["previous"].toInt() != 1)
            ++logCounts[QStringLiteral("paid ") + id];
    }
    const QRegularExpression printedEvent(
        QStringLiteral("\\] (?:buyer of order (\\d+) asks the shop to confirm|new order (\\d+):)"));
    QHash<QString, int> printCounts;
    for (const QString& line : printed) {
        const QRegularExpressionMatch match = printedEvent.match(line);
        if (match.hasMatch())
            ++printCounts[match.captured(1).isEmpty() ? QStringLiteral("paid ") + match.captured(2)
                                                      : QStringLiteral("request ") + match.captured(1)];
    }
    int printedEvents = 0;
    for (int count : qAsConst(printCounts))
        printedEvents += count;
    for (auto it = printCounts.cbegin(); it != printCounts.cend(); ++it)
        if (alarms.ok && logCounts.value(it.key()) < it.value())
            failures << QStringLiteral("the platform printed %1 × \"%2\", its log holds %3")
                            .arg(it.value())
                            .arg(it.key())
                            .arg(logCounts.value(it.key()));
    for (auto it = end.ertime.cbegin(); it != end.ertime.cend(); ++it)
        if (alarms.ok && !logged.contains(QStringLiteral("%1/%2").arg(it.key()).arg(it.value())))
            failures << QStringLiteral("order %1: stamp %2 is in no event of the platform's log")
                            .arg(it.key())
                            .arg(it.value());
    QStringList alarmProblems;
    for (const AlarmRow* row : {&alarms.newOrders, &alarms.confirmations, &alarms.reminders})
        alarmProblems << row->details;
    for (const QString& problem : alarmProblems.mid(0, 20))
        failures << problem;
    if (alarmProblems.size() > 20)
        failures << QStringLiteral("... %1 more false or missed alarms").arg(alarmProblems.size() - 20);
    // One new-order sound for each reply that brought new orders and each reminder; the
    // confirmation sound never more often than replies asked for confirmation.
    const int newOrderRings = int(witness.arrivalReplies.size() + witness.reminders.size());
    if (witness.newOrderSounds != newOrderRings || witness.silentArrivals > 0)
        failures << QStringLiteral(
                        "the new-order sound was asked for %1 times for %2 replies with new orders "
                        "and %3 reminders; %4 arrivals outside any reply")
                        .arg(witness.newOrderSounds)
                        .arg(witness.arrivalReplies.size())
                        .arg(witness.reminders.size())
                        .arg(witness.silentArrivals);
    if (witness.notifySounds > witness.confirmationReplies.size())
        failures << QStringLiteral("the confirmation sound was asked for %1 times for %2 replies")
                        .arg(witness.notifySounds)
                        .arg(witness.confirmationReplies.size());

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
    out << "| set-up | velm-platform --seed --simulate --sim-pace " << pace
        << " --sim-pay-later; poll second " << pollSecond << " ms, so the new-order poll runs every "
        << Ms(newOrderInterval) << " and the pay/finish poll every " << Ms(payFinishInterval)
        << " after each reply; transfer time-out " << Ms(transferTimeout) << "; reminder every "
        << Ms(rules.reminderMsecs) << " |\n";
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
    out << "| staff member | " << staff.finished << " finished, " << staff.lookedAt
        << " new orders looked at without an action, " << staff.confirmClicks << " confirmations clicked, "
        << staff.replied << " reviews answered, " << staff.actionFailures << " actions refused or failed, "
        << staff.detailRetries << " detail retries, " << staff.givenUp << " windows given up |\n";
    out << "| longest silence, new-order poll | " << Ms(newOrderSilence) << " (limit " << Ms(newOrderInterval)
        << " + " << Ms(transferTimeout) << " + " << Ms(tolerance) << " slack) |\n";
    out << "| longest silence, pay/finish poll | " << Ms(payFinishSilence) << " (limit "
        << Ms(payFinishInterval) << " + " << Ms(transferTimeout) << " + " << Ms(tolerance) << " slack) |\n";
    out << "| RSS at start / after login / at end | " << QString::number(rssStart, 'f', 1) << " / "
        << QString::number(rssAfterLogin, 'f', 1) << " / " << QString::number(rssEnd, 'f', 1) << " MiB |\n";
    out << "| CPU used, client / velm-platform | " << QString::number(cpu, 'f', 1) << " s ("
        << QString::number(100.0 * cpu / qMax(1.0, wall), 'f', 1) << " % of " << QString::number(wall, 'f', 0)
        << " s) / " << QString::number(platformCpu, 'f', 1) << " s |\n";
    out << "| buyers | " << alarms.paidLater << " orders paid a moment after they were placed, "
        << alarms.raced << " of them listed paid by the new-order poll and then reported unchanged by the "
        << "pay/finish poll; " << alarms.buyerRequests << " requests for confirmation |\n";
    out << "| alarms heard | new-order sound " << witness.newOrderSounds << " ("
        << witness.arrivalReplies.size() << " replies with new orders, " << witness.reminders.size()
        << " reminders), confirmation sound " << witness.notifySounds << " ("
        << witness.confirmationReplies.size() << " replies with confirmations); first arrival by "
        << alarms.roads.join(QStringLiteral(", ")) << "; a reminder came at most "
        << Ms(alarms.reminderLateness) << " after its interval (allowed " << Ms(rules.toleranceMsecs)
        << ") |\n";
    out << "| the platform's log | " << events.size()
        << " changes of orders; every order's stamp at the end is in it, "
        << "and so are the " << printedEvents << " payments and requests the simulated buyers printed |\n";
    out << "| result | "
        << (failures.isEmpty()
                ? QStringLiteral("passed: nothing lost, no poll stopped, no crash, no false or missed alarm")
                : QStringLiteral("FAILED"))
        << " |\n";
    out << "\n| alarms | expected | rung | false | missed |\n|---|---|---|---|---|\n";
    const auto alarmRow = [](const QString& kind, const AlarmRow& row) {
        return QStringLiteral("| %1 | %2 | %3 | %4 | %5 |\n")
            .arg(kind)
            .arg(row.expected)
            .arg(row.rung)
            .arg(row.falseAlarms)
            .arg(row.missed);
    };
    out << alarmRow(QStringLiteral("new orders"), alarms.newOrders)
        << alarmRow(QStringLiteral("confirmations"), alarms.confirmations)
        << alarmRow(QStringLiteral("reminders (order × ring, every %1 ms)").arg(rules.reminderMsecs),
                    alarms.reminders);
    for (const QString& failure : failures)
        out << "- " << failure << "\n";
    out.flush();
    return failures.isEmpty() ? 0 : 1;
}
