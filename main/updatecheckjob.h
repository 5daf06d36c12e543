#pragma once

#include <QString>
#include <QUrl>

#include "net/job.h"

// The newest build the platform offers ("UpdateSoftware"'s "info").
struct UpdateOffer
{
    QString build;  // the version, dotted
    QUrl url;       // where its installer is
    QString sha256; // the installer's digest, lower-case hex; empty when the platform named none
};
Q_DECLARE_METATYPE(UpdateOffer)

// UpdateSoftware: asks, with an empty body and no session, which build is the newest.
class CUpdateCheckJob : public CJob
{
    Q_OBJECT
public:
    explicit CUpdateCheckJob(const ApiLine& line, QObject* parent = nullptr);

    bool Start();

signals:
    void Offered(const UpdateOffer& offer);

protected:
    QString Take(const Request::Answer& answer) override;
};
