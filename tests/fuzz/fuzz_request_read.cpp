// Request::Read against any reply body: the first byte picks a successful reply or a failed one
// (and its error code), the rest is the body. Whatever arrives, reading it must not crash, hang or
// leak, and the answer must keep its own promises: the text is the body's UTF-8 up to the first
// NUL, a failed reply is never parsed, and a parsed object gives its "status".

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "common/fakenetwork.h"
#include "net/request.h"

namespace {

void Check(bool condition, const char* what, const QByteArray& body)
{
    if (condition)
        return;
    std::fprintf(stderr, "%s\nbody (%d bytes, hex): %s\n", what, body.size(),
                 body.left(512).toHex().constData());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_request_read";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    static FakeNetworkManager manager;

    if (size == 0)
        return 0;
    const uint8_t mode = data[0];
    const QByteArray body(reinterpret_cast<const char*>(data + 1), int(size - 1));
    const bool fails = mode & 0x80;
    // Any of QNetworkReply's error codes, known or not: the reader only passes them on.
    const auto error = QNetworkReply::NetworkError(1 + (mode & 0x7f) * 3);

    manager.SetHandler([&](const RecordedRequest&) {
        return fails ? FakeResponse::Error(error) : FakeResponse::Json(body);
    });
    QNetworkReply* reply = Request::Post(&manager, QStringLiteral("http://127.0.0.1/api/StaffOrderList"),
                                         QByteArray("id=1&key=k&token=t"));
    Check(reply != nullptr, "no reply", body);
    for (int turns = 0; !reply->isFinished(); ++turns) {
        Check(turns < 1000, "the reply never finished", body);
        QCoreApplication::processEvents();
    }

    const Request::Answer answer = Request::Read(reply);
    if (fails) {
        Check(answer.networkError, "a failed reply read as a success", body);
        Check(answer.errorCode == int(error), "the error code changed", body);
        Check(!answer.isObject && !answer.Succeeded(), "a failed reply was parsed", body);
    } else {
        Check(!answer.networkError, "a good reply read as a network error", body);
        const int nul = body.indexOf('\0');
        Check(answer.text == QString::fromUtf8(nul < 0 ? body : body.left(nul)),
              "the text is not the body up to its first NUL", body);
        const QJsonDocument document = QJsonDocument::fromJson(answer.text.toUtf8());
        Check(answer.isObject == document.isObject(), "isObject disagrees with the JSON", body);
        if (answer.isObject)
            Check(answer.status == document.object().value(QStringLiteral("status")).toVariant().toInt(),
                  "status disagrees with the JSON", body);
        else
            Check(answer.status == 0 && !answer.Succeeded(), "a body that is no object succeeded", body);
    }
    // Every accessor copes with whatever "info" holds.
    answer.InfoText();
    answer.InfoMap();
    answer.InfoList();
    // A second read of the same reply finds the body consumed and must still be safe.
    Request::Read(reply);

    delete reply;
    // Every request is recorded for the tests; a fuzz run must not keep them all.
    FakeNetworkManager::Recorded().clear();
    return 0;
}
