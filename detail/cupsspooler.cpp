#include "detail/cupsspooler.h"

#include <cups/cups.h>

#include <algorithm>

namespace {

constexpr int connectMsecs = 5000;
constexpr double requestSeconds = 10.0;

class Connection
{
public:
    Connection()
        : http(httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, connectMsecs, nullptr))
    {
        // Without a callback a request that hears nothing for this long fails instead of waiting on.
        if (http)
            httpSetTimeout(http, requestSeconds, nullptr, nullptr);
    }
    ~Connection()
    {
        if (http)
            httpClose(http);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    http_t* http;
};

// The server did not answer at all (as opposed to answering with an error).
bool unreachable(const ipp_t* response)
{
    if (response)
        return false;
    const ipp_status_t status = cupsLastError();
    return status == IPP_STATUS_ERROR_SERVICE_UNAVAILABLE || status == IPP_STATUS_ERROR_INTERNAL ||
           status == IPP_STATUS_ERROR_DEVICE;
}

QByteArray resourceUri(const char* path, const QByteArray& name)
{
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof(uri), "ipp", nullptr, "localhost", ippPort(), "%s%s", path,
                     name.constData());
    return QByteArray(uri);
}

QString text(ipp_t* response, const char* attribute)
{
    ipp_attribute_t* found = ippFindAttribute(response, attribute, IPP_TAG_ZERO);
    const char* value = found ? ippGetString(found, 0, nullptr) : nullptr;
    return value ? QString::fromUtf8(value).trimmed() : QString();
}

QSizeF paperOf(const QString& media)
{
    const QByteArray name = media.toUtf8();
    pwg_media_t* pwg = pwgMediaForPWG(name.constData());
    if (!pwg)
        pwg = pwgMediaForLegacy(name.constData());
    if (!pwg)
        pwg = pwgMediaForPPD(name.constData());
    if (!pwg || pwg->width <= 0 || pwg->length <= 0)
        return QSizeF();
    return QSizeF(pwg->width / 100.0, pwg->length / 100.0);
}

QString submitFailure()
{
    switch (cupsLastError()) {
    case IPP_STATUS_ERROR_NOT_ACCEPTING_JOBS:
        return QStringLiteral("打印机不接受新的打印任务");
    case IPP_STATUS_ERROR_NOT_FOUND:
        return QStringLiteral("找不到打印机");
    case IPP_STATUS_ERROR_SERVICE_UNAVAILABLE:
    case IPP_STATUS_ERROR_INTERNAL:
        return QStringLiteral("无法连接打印服务");
    case IPP_STATUS_ERROR_FORBIDDEN:
    case IPP_STATUS_ERROR_NOT_AUTHORIZED:
    case IPP_STATUS_ERROR_NOT_AUTHENTICATED:
        return QStringLiteral("没有在此打印机打印的权限");
    default:
        return QStringLiteral("打印服务未接受打印任务（") + QString::fromUtf8(cupsLastErrorString()) +
               QStringLiteral("）");
    }
}

QString withMessage(const QString& reason, const QString& message)
{
    return message.isEmpty() ? reason : reason + QStringLiteral("（") + message + QStringLiteral("）");
}

// Media in the form CUPS reads for any size a queue allows: Custom.WxHmm.
QByteArray customMedia(const QSizeF& mm)
{
    return "Custom." + QByteArray::number(mm.width(), 'f', 1) + 'x' + QByteArray::number(mm.height(), 'f', 1) + "mm";
}

} // namespace

namespace Cups {

Printers List()
{
    Printers printers;
    Connection connection;
    if (!connection.http)
        return printers;
    cups_dest_t* dests = nullptr;
    const int count = cupsGetDests2(connection.http, &dests);
    const ipp_status_t status = cupsLastError();
    printers.reached = count > 0 || status <= IPP_STATUS_OK_EVENTS_COMPLETE || status == IPP_STATUS_ERROR_NOT_FOUND;
    for (int i = 0; i < count; ++i) {
        if (dests[i].instance)
            continue;
        const QString name = QString::fromUtf8(dests[i].name);
        printers.names << name;
        if (dests[i].is_default)
            printers.defaultName = name;
    }
    cupsFreeDests(count, dests);
    std::sort(printers.names.begin(), printers.names.end());
    return printers;
}

PrintQueue Describe(const QString& asked)
{
    PrintQueue queue;
    queue.name = asked;
    Connection connection;
    if (!connection.http)
        return queue;

    QByteArray name = asked.toUtf8();
    if (name.isEmpty()) {
        cups_dest_t* dest = cupsGetNamedDest(connection.http, nullptr, nullptr);
        if (!dest) {
            const ipp_status_t status = cupsLastError();
            queue.spoolerReached = status != IPP_STATUS_ERROR_SERVICE_UNAVAILABLE && status != IPP_STATUS_ERROR_INTERNAL;
            return queue;
        }
        name = dest->name;
        cupsFreeDests(1, dest);
        queue.name = QString::fromUtf8(name);
    }

    ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    const QByteArray uri = resourceUri("/printers/", name);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.constData());
    static const char* const wanted[] = {"printer-state", "printer-state-message", "printer-is-accepting-jobs",
                                         "media-default"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", int(std::size(wanted)),
                  nullptr, wanted);
    ipp_t* response = cupsDoRequest(connection.http, request, "/");
    if (unreachable(response))
        return queue;
    queue.spoolerReached = true;
    if (!response || ippGetStatusCode(response) > IPP_STATUS_OK_EVENTS_COMPLETE) {
        ippDelete(response);
        return queue; // no such queue
    }
    queue.exists = true;
    ipp_attribute_t* state = ippFindAttribute(response, "printer-state", IPP_TAG_ENUM);
    queue.stopped = state && ippGetInteger(state, 0) == IPP_PSTATE_STOPPED;
    ipp_attribute_t* accepting = ippFindAttribute(response, "printer-is-accepting-jobs", IPP_TAG_BOOLEAN);
    queue.accepting = !accepting || ippGetBoolean(accepting, 0);
    queue.message = text(response, "printer-state-message");
    queue.paperMm = paperOf(text(response, "media-default"));
    ippDelete(response);
    return queue;
}

int Submit(const PrintJob& job, QString* reason)
{
    Connection connection;
    if (!connection.http) {
        if (reason)
            *reason = QStringLiteral("无法连接打印服务");
        return 0;
    }
    cups_option_t* options = nullptr;
    int count = 0;
    if (job.copies > 1)
        count = cupsAddOption("copies", QByteArray::number(job.copies).constData(), count, &options);
    if (job.paperMm.isValid() && !job.paperMm.isEmpty())
        count = cupsAddOption("media", customMedia(job.paperMm).constData(), count, &options);
    const int id = cupsPrintFile2(connection.http, job.printer.toUtf8().constData(), job.file.toLocal8Bit().constData(),
                                  job.title.toUtf8().constData(), count, options);
    cupsFreeOptions(count, options);
    if (id <= 0 && reason)
        *reason = submitFailure();
    return id > 0 ? id : 0;
}

bool Cancel(const QString& printer, int jobId)
{
    Connection connection;
    return connection.http && cupsCancelJob2(connection.http, printer.toUtf8().constData(), jobId, 0) == IPP_STATUS_OK;
}

} // namespace Cups

std::optional<PrintJobEnd> CupsJobFollower::Check(const PrintJob& job, int jobId)
{
    ipp_t* response = nullptr;
    {
        Connection connection;
        if (connection.http) {
            ipp_t* request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
            const QByteArray uri = resourceUri("/jobs/", QByteArray::number(jobId));
            ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr, uri.constData());
            static const char* const wanted[] = {"job-state", "job-printer-state-message"};
            ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", int(std::size(wanted)),
                          nullptr, wanted);
            response = cupsDoRequest(connection.http, request, "/");
        }
    }
    if (!response) {
        if (++misses[jobId] < MissesAllowed)
            return std::nullopt;
        misses.remove(jobId);
        return PrintJobEnd{jobId, false, QStringLiteral("打印服务无响应，不知打印任务是否完成")};
    }
    misses.remove(jobId);

    const auto cancelled = [&](const QString& reason) {
        Cups::Cancel(job.printer, jobId);
        return PrintJobEnd{jobId, false, reason};
    };
    std::optional<PrintJobEnd> end;
    if (ippGetStatusCode(response) > IPP_STATUS_OK_EVENTS_COMPLETE) {
        end = PrintJobEnd{jobId, false, QStringLiteral("打印任务已不在打印队列中")};
    } else {
        ipp_attribute_t* state = ippFindAttribute(response, "job-state", IPP_TAG_ENUM);
        const QString message = text(response, "job-printer-state-message");
        switch (state ? ippGetInteger(state, 0) : IPP_JSTATE_PENDING) {
        case IPP_JSTATE_COMPLETED:
            end = PrintJobEnd{jobId, true, QString()};
            break;
        case IPP_JSTATE_CANCELED:
            end = PrintJobEnd{jobId, false, QStringLiteral("打印任务已被取消")};
            break;
        case IPP_JSTATE_ABORTED:
            end = PrintJobEnd{jobId, false, withMessage(QStringLiteral("打印任务已中止"), message)};
            break;
        case IPP_JSTATE_STOPPED:
            end = cancelled(withMessage(QStringLiteral("打印任务已停止"), message));
            break;
        case IPP_JSTATE_HELD:
            end = cancelled(QStringLiteral("打印任务被挂起"));
            break;
        default: {
            // Waiting or printing: it can only go on while its queue does.
            const PrintQueue queue = Cups::Describe(job.printer);
            if (queue.spoolerReached && (!queue.exists || queue.stopped))
                end = cancelled(queue.Problem());
            break;
        }
        }
    }
    ippDelete(response);
    return end;
}
