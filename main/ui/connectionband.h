#pragma once

#include <QLabel>

class CConnectionState;

// The red band across the main window's head while the connection to the platform is lost: how
// long it has been lost, or, when the platform answers and refuses, what it said. It follows the
// connection state by itself; the window that holds it only places it.
class CConnectionBand : public QLabel
{
    Q_OBJECT
public:
    CConnectionBand(CConnectionState* state, QWidget* parent);

    // What the loss is called, here and in the tray: a dead line, or a platform that refuses.
    static QString Heading(const CConnectionState* state);

private:
    void ShowLostFor(int seconds);

    CConnectionState* connection;
};
