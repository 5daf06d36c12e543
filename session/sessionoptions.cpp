#include "session/sessionoptions.h"

#include <QNetworkAccessManager>

QNetworkAccessManager* SessionOptions::MakeNetwork(QObject* parent) const
{
    return makeNetwork ? makeNetwork(parent) : new QNetworkAccessManager(parent);
}
